#include "AppKitGUI/Alerts.h"

#include "AppKitGUI/GUIApplication.h"
#include "AppKitGUI/WindowReporter.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QWidget* beginAlert(AlertSheet alert, QMessageBox::Icon icon)
{
    auto* box = new QMessageBox(icon, QString::fromStdString(alert.title), QString::fromStdString(alert.title), QMessageBox::NoButton,
        alert.documentWindow ? alert.documentWindow->window() : nullptr);
    box->setObjectName(QStringLiteral("alert"));
    box->setInformativeText(QString::fromStdString(alert.message));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setProperty(WindowReporter::kKindProperty, QStringLiteral("alert"));
    box->setProperty(WindowReporter::kMessageProperty, QString::fromStdString(alert.message));
    struct Choice {
        std::string title;
        int code;
        QMessageBox::ButtonRole role;
    };
    const Choice choices[] = {{alert.defaultButton.empty() ? "OK" : alert.defaultButton, NSAlertDefaultReturn, QMessageBox::AcceptRole},
        {alert.alternateButton, NSAlertAlternateReturn, QMessageBox::RejectRole}, {alert.otherButton, NSAlertOtherReturn, QMessageBox::DestructiveRole}};
    auto didEnd = std::make_shared<std::function<void(int)>>(std::move(alert.didEnd));
    for (const Choice& choice : choices) {
        if (choice.title.empty())
            continue;
        QPushButton* button = box->addButton(QString::fromStdString(choice.title), choice.role);
        if (choice.code == NSAlertDefaultReturn)
            box->setDefaultButton(button);
        int code = choice.code;
        QObject::connect(button, &QPushButton::clicked, box, [box, code, didEnd] {
            if (auto* application = GUIApplication::shared())
                application->endSheet(box, code);
            if (*didEnd)
                (*didEnd)(code);
            box->close();
        });
    }
    // The buttons end the sheet themselves; the box must not close first.
    QObject::disconnect(box, &QMessageBox::buttonClicked, nullptr, nullptr);
    if (auto* application = GUIApplication::shared())
        application->beginSheetModalForWindow(box, alert.documentWindow);
    else
        box->show();
    return box;
}

} // namespace

QWidget* NSBeginAlertSheet(AlertSheet alert)
{
    return beginAlert(std::move(alert), QMessageBox::Warning);
}

QWidget* NSBeginCriticalAlertSheet(AlertSheet alert)
{
    return beginAlert(std::move(alert), QMessageBox::Critical);
}
