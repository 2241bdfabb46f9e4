"""LibraryPropertyPage.h: the property page as the library hands it out, every member of the
host's page protocol forwarded to AnchorPropertyPage after a check that the call comes from the
thread that created the page. A member added to the protocol is checked without anyone writing
its forwarder."""
from string import Template

from . import cpp

PROTOCOL = "IComPropertyPage"

FILE = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json: do not edit.
#pragma once
// The property page as the library hands it out: besides its default interface, the host's
// page protocol refuses calls from any thread but the one that created the page.

#include "com/Apartment.h"
#include "propertypage/AnchorPropertyPage.h"

namespace crv {

class LibraryPropertyPage : public AnchorPropertyPage {
public:
${members}
private:
    Apartment apartment_;
};

}  // namespace crv
""")

MEMBER = Template("""\
    ${returns} ${name}(${params}) override {
        apartment_.Require();
        ${result}AnchorPropertyPage::${name}(${names});
    }
""")


def emit(desc):
    protocol = desc.interface(PROTOCOL)
    members = "".join(MEMBER.substitute(returns=cpp.value_type(m.returns), name=m.cpp_name, params=cpp.params(m),
                                        result="" if m.returns.is_void else "return ",
                                        names=", ".join(p.name for p in m.params)) for m in protocol.members)
    return FILE.substitute(members=members)
