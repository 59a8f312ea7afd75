#include "Accessibility/AXObserver.h"
#include "MachineLink/MachineLink.h"
#include "Accessibility/AXUIElement.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

using machine::Machine;

namespace {

struct Heard {
    std::vector<std::string> notices;
};

void record(AXObserverRef, AXUIElementRef element, const std::string& notification, void* refcon)
{
    CFTypeRef role;
    AXUIElementCopyAttributeValue(element, kAXRoleAttribute, &role);
    static_cast<Heard*>(refcon)->notices.push_back(notification + " " + role.value()->stringOr("?") + " " + std::to_string(element->element()));
}

} // namespace

class TheAccessibilityAPI : public ::testing::Test {
protected:
    Machine& m = Machine::shared();
    ScopedVirtualClock time;
    int editor = 0;
    machine::ButtonSpec ok {{100, 200}, {80, 20}, true};

    TheAccessibilityAPI()
    {
        // The program hosts the model through its in-process link, which
        // passes the model's news on to the system.
        MachineLink::shared();
        m.reset();
        editor = m.processes().launch({"Editor", "", "/Applications/Editor.app", "ttxt"}).pid;
    }
    ~TheAccessibilityAPI() override
    {
        RunLoop::current().removeAllSourcesForTesting();
        DistributedNotificationCenter::resetForTesting();
        m.reset();
    }
    void runLoop() { RunLoop::current().runUntilDate(currentDate() + 0.1); }
    CFTypeRef read(const AXUIElementRef& element, const std::string& attribute, AXError expected = kAXErrorSuccess)
    {
        CFTypeRef value;
        EXPECT_EQ(AXUIElementCopyAttributeValue(element, attribute, &value), expected) << attribute;
        return value;
    }
};


TEST_F(TheAccessibilityAPI, AnswersNoValueForWhatIsMissingAndInvalidForWhatHasGone)
{
    machine::ButtonSpec noEnabled {{0, 0}, {10, 10}, std::nullopt};
    std::uint64_t plain = m.accessibility().openWindow(editor);
    std::uint64_t window = m.accessibility().openWindow(editor, noEnabled);
    AXUIElementRef app = AXUIElementCreateApplication(editor);
    auto windowRef = std::make_shared<AXUIElement>(editor, window);
    auto plainRef = std::make_shared<AXUIElement>(editor, plain);
    AXUIElementRef button = read(windowRef, kAXDefaultButtonAttribute).element();
    read(button, kAXEnabledAttribute, kAXErrorNoValue);
    read(plainRef, kAXDefaultButtonAttribute, kAXErrorNoValue);

    m.accessibility().close(editor, window);
    read(windowRef, kAXRoleAttribute, kAXErrorInvalidUIElement);
    read(button, kAXPositionAttribute, kAXErrorInvalidUIElement);
    read(app, kAXFocusedWindowAttribute, kAXErrorNoValue);

    m.accessibility().setEnabled(false);
    read(plainRef, kAXRoleAttribute, kAXErrorAPIDisabled);
    m.accessibility().setEnabled(true);
    m.processes().quit(editor);
    read(app, kAXFrontmostAttribute, kAXErrorInvalidUIElement);
    read(plainRef, kAXRoleAttribute, kAXErrorInvalidUIElement);
}


TEST_F(TheAccessibilityAPI, DeliversNewWindowsAndSheetsThroughTheObserversRunLoopSource)
{
    Heard heard;
    AXObserverRef observer;
    ASSERT_EQ(AXObserverCreate(editor, record, &observer), kAXErrorSuccess);
    AXUIElementRef app = AXUIElementCreateApplication(editor);
    ASSERT_EQ(AXObserverAddNotification(observer, app, kAXWindowCreatedNotification, &heard), kAXErrorSuccess);
    ASSERT_EQ(AXObserverAddNotification(observer, app, kAXSheetCreatedNotification, &heard), kAXErrorSuccess);
    EXPECT_EQ(AXObserverAddNotification(observer, app, kAXSheetCreatedNotification, &heard), kAXErrorNotificationAlreadyRegistered);
    EXPECT_EQ(m.accessibility().registrationsForPid(editor), (std::vector<std::string> {"AXWindowCreated", "AXSheetCreated"}));

    std::uint64_t window = m.accessibility().openWindow(editor);
    runLoop();
    EXPECT_TRUE(heard.notices.empty()) << "the source is on no run loop yet";

    RunLoop::current().addSource(AXObserverGetRunLoopSource(observer), kDefaultRunLoopMode);
    std::uint64_t sheet = m.accessibility().openSheet(editor, window);
    EXPECT_EQ(heard.notices.size(), 0u) << "nothing is delivered from inside the machine's verb";
    runLoop();
    EXPECT_EQ(heard.notices, (std::vector<std::string> {"AXWindowCreated AXWindow " + std::to_string(window),
                                 "AXSheetCreated AXSheet " + std::to_string(sheet)}));

    EXPECT_EQ(AXObserverRemoveNotification(observer, app, kAXWindowCreatedNotification), kAXErrorSuccess);
    EXPECT_EQ(AXObserverRemoveNotification(observer, app, kAXWindowCreatedNotification), kAXErrorNotificationNotRegistered);
    observer.reset();
    EXPECT_TRUE(m.accessibility().registrations().empty());
}

TEST_F(TheAccessibilityAPI, RefusesRegistrationsOnAnotherProcessOrAGoneElement)
{
    int mail = m.processes().launch({"Mail", "com.apple.mail", "/Applications/Mail.app", "emal"}).pid;
    Heard heard;
    AXObserverRef observer;
    ASSERT_EQ(AXObserverCreate(editor, record, &observer), kAXErrorSuccess);
    EXPECT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(mail), kAXWindowCreatedNotification, &heard),
        kAXErrorIllegalArgument);
    m.processes().quit(editor);
    EXPECT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(editor), kAXWindowCreatedNotification, &heard),
        kAXErrorInvalidUIElement);
    EXPECT_TRUE(m.accessibility().registrations().empty());
}

TEST_F(TheAccessibilityAPI, TellsEverySessionWhenTheSwitchChanges)
{
    DistributedNotificationCenter alice {100001};
    int heard = 0;
    alice.addObserver(&heard, [&](const Notification&) { ++heard; }, "com.apple.accessibility.api");
    m.accessibility().setEnabled(true);
    m.accessibility().setEnabled(false);
    EXPECT_FALSE(AXAPIEnabled());
    EXPECT_EQ(heard, 0);
    runLoop();
    EXPECT_EQ(heard, 1);
}
