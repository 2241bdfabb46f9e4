#include "qgis/cli/Session.h"

#include "qgis/cli/QgisCli.h"
#include "objects/StoredProperties.h"
#include "support/CommandLine.h"
#include "support/MessageText.h"

#include <qgsapplication.h>
#include <qgslayoutatlas.h>
#include <qgslayoutitem.h>
#include <qgslayoutitempage.h>
#include <qgslayoutpagecollection.h>
#include <qgsmessagelog.h>
#include <qgsprintlayout.h>
#include <qgsproject.h>
#include <qgsprojectbadlayerhandler.h>
#include <qgsproviderregistry.h>
#include <qgsvectorlayer.h>

#include <QDomDocument>

#include <map>
#include <ostream>
#include <stdexcept>

namespace crv::qgis {

namespace {

namespace fs = std::filesystem;
using support::QuotedValue;

class SilentBadLayers final : public QgsProjectBadLayerHandler {
public:
    void handleBadLayers(const QList<QDomNode>&) override {}
};

// The project file named on the command line, before QGIS is asked to read it.
void CheckProjectPath(const fs::path& project) {
    RequireUtf8Path("", project, "QGIS reads");
    const support::FileIdentity id = support::IdentityOf(project);
    const std::string name = project.string();
    if (!id.exists) throw UsageError(name + ": no such project file");
    if (id.folder) throw UsageError(name + ": a folder, not a project file");
    if (!id.regular) throw UsageError(name + ": not a regular file (a device or a pipe), not a project file");
}

// Reads the project as the commands do: the layers QGIS cannot read are named by the export that
// needs them, not listed by QGIS's own handler on every read, and what QGIS writes to standard
// error meanwhile is kept off it.
bool ReadProject(QgsProject& project, const QString& path, QgsProject::ReadFlags flags = QgsProject::ReadFlags()) {
    project.setBadLayerHandler(new SilentBadLayers);
    const QuietStandardError quiet;
    return project.read(path, flags);
}

}  // namespace

void RequireUtf8Path(const std::string& option, const fs::path& path, const std::string& why) {
    if (!support::IsValidUtf8(path.string()))
        throw UsageError(option + QuotedValue(path.string()) + ": " + why + " only a path that is UTF-8 text");
}

std::vector<std::pair<std::string, fs::path>> LayerFiles(const QgsProject& project) {
    std::vector<std::pair<std::string, fs::path>> files;
    for (QgsMapLayer* layer : project.mapLayers()) {
        const QVariantMap parts = QgsProviderRegistry::instance()->decodeUri(layer->providerType(), layer->source());
        const QString path = parts.value(QStringLiteral("path")).toString();
        if (!path.isEmpty()) files.emplace_back(layer->name().toStdString(), path.toStdString());
    }
    return files;
}

QgisWarnings::QgisWarnings() {
    connection_ = QObject::connect(
        QgsApplication::messageLog(),
        QOverload<const QString&, const QString&, Qgis::MessageLevel>::of(&QgsMessageLog::messageReceived),
        QgsApplication::messageLog(),
        [this](const QString& message, const QString& tag, Qgis::MessageLevel level) {
            if (level != Qgis::Warning && level != Qgis::Critical) return;
            const std::string line =
                "QGIS: " + (tag.isEmpty() ? "" : tag.toStdString() + ": ") + message.simplified().toStdString();
            const std::lock_guard<std::mutex> hold(mutex_);
            if (said_.insert(line).second) waiting_.push_back(line);
        },
        Qt::DirectConnection);
}

QgisWarnings::~QgisWarnings() { QObject::disconnect(connection_); }

void QgisWarnings::Tell(std::ostream& err) {
    const std::lock_guard<std::mutex> hold(mutex_);
    for (const std::string& line : waiting_) err << line << "\n";
    waiting_.clear();
}

Session::Session(QgsPrintLayout& open, const CommandArgs& a, std::ostream& errors)
    : err(errors), project(*open.project()), layout(&open) {
    if (layout->pageCollection()->pageCount() == 0)
        throw UsageError("--layout " + QuotedValue(*a.layout) + ": the layout has no page");
    CheckItems(a);
    host = std::make_unique<QgisHost>(layout);
    held.emplace(layout);
}

Session::Session(CommandArgs& a, std::ostream& errors)
    : err(errors), read_(std::make_unique<QgsProject>()), project(*read_) {
    CheckProjectPath(a.project);
    try {
        LoadComponent(DefaultComponentPath());
    } catch (const std::runtime_error& e) {
        throw UsageError(e.what());
    }
    if (a.WritesProject()) {
        try {
            lock = std::make_unique<support::FileLock>(a.project, a.project.string());
        } catch (const support::FileWriteError& e) {
            throw UsageError(e.what());
        }
    }
    const QString path = QString::fromStdString(a.project.string());
    // A layer over a pipe or a device would stop the read until something writes to it: the
    // layers' files are looked at first, without opening them.
    {
        QgsProject sources;
        if (ReadProject(sources, path,
                        QgsProject::ReadFlag::FlagDontResolveLayers | QgsProject::ReadFlag::FlagDontLoadLayouts)) {
            for (const auto& [name, file] : LayerFiles(sources)) {
                const support::FileIdentity id = support::IdentityOf(file);
                if (id.exists && !id.regular && !id.folder)
                    throw UsageError(a.project.string() + ": the layer " + QuotedValue(name) + " reads " +
                                     QuotedValue(file.string()) + ", which is not a regular file");
            }
        }
    }
    // QGIS keeps one layout of a name and drops the others without a word; the project's own
    // text tells whether it had more than one.
    std::map<QString, int> named;
    const QMetaObject::Connection counting =
        QObject::connect(&project, &QgsProject::readProject, [&named](const QDomDocument& dom) {
            const QDomNodeList layouts = dom.elementsByTagName(QStringLiteral("Layout"));
            for (int i = 0; i < layouts.size(); ++i)
                ++named[layouts.at(i).toElement().attribute(QStringLiteral("name"))];
        });
    const bool read = ReadProject(project, path);
    QObject::disconnect(counting);
    warnings.Tell(err);
    if (!read) throw UsageError(a.project.string() + ": cannot read the project: " + project.error().toStdString());
    layout = &FindPrintLayout(project, a.layout, a.project.string());
    a.layout = layout->name().toStdString();
    // Which one was meant cannot be told, and a save would keep only one of them.
    if (const int count = named[layout->name()]; count > 1) {
        throw UsageError("--layout " + QuotedValue(*a.layout) + ": " + a.project.string() + " has " +
                         std::to_string(count) + " print layouts of that name; rename all but one in QGIS");
    }
    if (layout->pageCollection()->pageCount() == 0)
        throw UsageError("--layout " + QuotedValue(*a.layout) + ": the layout has no page");
    CheckItems(a);
    host = std::make_unique<QgisHost>(layout);
    held.emplace(layout);
}

void Session::CheckItems(const CommandArgs& a) {
    QList<QgsLayoutItem*> items;
    layout->layoutItems(items);
    std::map<QString, int> ids;
    for (QgsLayoutItem* item : items) {
        if (qobject_cast<QgsLayoutItemPage*>(item) != nullptr) continue;
        if (!item->id().isEmpty()) ++ids[item->id()];
        try {
            objects::UnflattenCustomValue(RecordPropertiesOf(*item));
        } catch (const objects::RecordKeyError& e) {
            throw UsageError(a.project.string() + ": the item " + QuotedValue(item->id().toStdString()) + ": " +
                             e.what());
        }
    }
    // An anchor to an id that several items share can only take one of them.
    for (const auto& [id, count] : ids) {
        if (count > 1)
            err << "crvanchor-qgis: " << count << " items of the layout " << QuotedValue(*a.layout) << " are named "
                << QuotedValue(id.toStdString()) << "; an anchor to that name takes only one of them\n";
    }
}

Session::~Session() { warnings.Tell(err); }

std::unique_ptr<QgsProject> Session::ReadAgain(const CommandArgs& a) {
    auto again = std::make_unique<QgsProject>();
    if (!ReadProject(*again, QString::fromStdString(a.project.string())))
        throw UsageError(a.project.string() + ": cannot read the project: " + again->error().toStdString());
    return again;
}

void Session::Save(const fs::path& path) {
    host->StoreRecords();
    SaveProject(project, path);
}

int32_t FirstPageOfLayout(const CommandArgs& a, const QgsPrintLayout& layout) {
    try {
        return FirstPageNumber(layout);
    } catch (const std::invalid_argument& e) {
        throw UsageError(a.project.string() + ": the layout " + QuotedValue(*a.layout) + ": " + e.what());
    }
}

int32_t AtlasPageCount(const CommandArgs& a, QgsLayoutAtlas& atlas) {
    // A layer that is gone or cannot be read has no features either, but saying so would send
    // the user to the wrong place.
    const QgsVectorLayer* coverage = atlas.coverageLayer();
    if (coverage == nullptr)
        throw UsageError(a.project.string() + ": the atlas of " + QuotedValue(*a.layout) + " has no coverage layer");
    if (!coverage->isValid())
        throw UsageError(a.project.string() + ": the atlas's coverage layer " +
                         QuotedValue(coverage->name().toStdString()) + " cannot be read from " +
                         QuotedValue(coverage->source().toStdString()));
    const int32_t count = atlas.updateFeatures();
    if (count < 1)
        throw UsageError(a.project.string() + ": no pages: the atlas of " + QuotedValue(*a.layout) +
                         " has no features");
    return count;
}

}  // namespace crv::qgis
