// Alert sheets: NSBeginAlertSheet and NSBeginCriticalAlertSheet.
//
// An alert runs as a sheet on its document window: its title in bold, its
// message below, its buttons (the default one first; "OK" when none is
// named). A button ends the sheet with its code (default 1, alternate 0,
// other -1, as the original answers), calls the end handler, and the
// alert goes. The machine sees it as an alert with its title, message and
// buttons (WindowReporter.h).
#pragma once

#include <functional>
#include <string>

class QWidget;

inline constexpr int NSAlertDefaultReturn = 1;
inline constexpr int NSAlertAlternateReturn = 0;
inline constexpr int NSAlertOtherReturn = -1;

struct AlertSheet {
    std::string title;
    std::string defaultButton;   // empty: "OK"
    std::string alternateButton; // empty: none
    std::string otherButton;     // empty: none
    QWidget* documentWindow = nullptr;
    std::function<void(int returnCode)> didEnd;
    std::string message;
};

// The alert's window (it deletes itself when answered).
QWidget* NSBeginAlertSheet(AlertSheet alert);
QWidget* NSBeginCriticalAlertSheet(AlertSheet alert);
