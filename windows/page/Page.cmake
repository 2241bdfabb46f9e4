# The anchor property page on Windows: the form's logic over the platform's own controls, and
# its dialogs. They are a resource, which a linker takes from a static library only when
# something there is referenced: so an object library, whose files go whole into the module
# (the component library, a test program) that links it.
add_library(crvanchor_propertypage OBJECT
  propertypage/frmAnchorPropertyPage.cpp
  propertypage/AnchorPropertyPage.cpp
  windows/page/Win32Controls.cpp
  windows/page/TextCase.cpp
  windows/page/AnchorPropertyPage.rc)
target_link_libraries(crvanchor_propertypage PUBLIC crvanchor_core comctl32)
crv_warnings(crvanchor_propertypage)
