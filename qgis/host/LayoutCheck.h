#pragma once
// The book's layout checks as one of QGIS's own validity checks, which QGIS runs before it
// exports a layout from the designer: every atlas page is anchored as the export will anchor
// it, and an anchored item off the page, one left out of the atlas (a cycle of anchors, a
// position QGIS takes from data, a target that is gone) or a report of the engine is shown as
// a warning the cartographer can act on before anything is written.

#include "com/Unknown.h"

#include <qgsabstractvaliditycheck.h>

#include <functional>

namespace crv {
class _CRVAnchorManager;
}  // namespace crv

namespace crv::qgis {

class AnchorValidityCheck final : public QgsAbstractValidityCheck {
public:
    using ManagerFactory = std::function<ComPtr<_CRVAnchorManager>()>;
    explicit AnchorValidityCheck(ManagerFactory newManager) : new_manager_(std::move(newManager)) {}

    QgsAbstractValidityCheck* create() const override { return new AnchorValidityCheck(new_manager_); }
    QString id() const override { return QStringLiteral("crvanchor_layout_checks"); }
    int checkType() const override { return TypeLayoutCheck; }
    // Anchors every page of the layout's atlas (its one page without an atlas) with the engine
    // and checks it; false, so QGIS skips the check, for a layout without anchored items. The
    // atlas is left on the feature it showed.
    bool prepareCheck(const QgsValidityCheckContext* context, QgsFeedback* feedback) override;
    QList<QgsValidityCheckResult> runCheck(const QgsValidityCheckContext*, QgsFeedback*) override { return results_; }

private:
    ManagerFactory new_manager_;
    QList<QgsValidityCheckResult> results_;
};

}  // namespace crv::qgis
