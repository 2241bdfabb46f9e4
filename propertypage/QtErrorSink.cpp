#include "propertypage/QtErrorSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

namespace crv {

void QtErrorSink::ShowMessage(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void QtErrorSink::Beep() { QApplication::beep(); }

}  // namespace crv
