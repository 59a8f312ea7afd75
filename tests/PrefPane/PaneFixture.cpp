#include "PaneFixture.h"

#include "Common/ArvelDriverAccessProtocol.h"
#include "Common/ArvelSystemDefaultsProtocol.h"
#include "Daemon/ArvelDOServer.h"
#include "Daemon/ArvelDriverAccess.h"
#include "Daemon/ArvelSystemDefaults.h"
#include "Foundation/NSBundle.h"
#include "Foundation/PropertyList.h"
#include "Foundation/SharedInstance.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/RunLoop.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

void writeText(const std::string& systemPath, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(hostPath(systemPath)).parent_path());
    std::ofstream(hostPath(systemPath)) << text;
}

} // namespace

PaneTest::PaneTest()
{
    world.addUser("alice", 501);
    world.createHomeFolder("alice");
    world.startLoginWindow();
    std::uint32_t session = world.loginSession("alice");
    world.login("alice");
    world.loadDriver();
    paneProcess = world.launchApplication({"System Preferences", "com.apple.systempreferences", "/Applications/System Preferences.app", "sprf", session});
    // No display: the widgets are drawn offscreen.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    application = std::make_unique<GUIApplication>();
    writeBundle();
}

PaneTest::~PaneTest()
{
    for (auto& timer : actions)
        timer->invalidate();
    pane.reset();
    window.reset();
    application.reset();
    daemonObjects.clear();
    releaseSharedInstances();
}

void PaneTest::startDaemon()
{
    // As root, as the daemon runs, outside any login session.
    world.runAsUser(0);
    auto server = ArvelDOServer::create();
    auto driverAccess = ArvelDriverAccess::sharedInstance();
    auto systemDefaults = ArvelSystemDefaults::sharedInstance();
    ASSERT_TRUE(server && driverAccess && systemDefaults);
    ASSERT_TRUE(server->publishObjectWithName(driverAccess, Value(kArvelDriverAccessName)));
    ASSERT_TRUE(server->publishObjectWithName(systemDefaults, Value(kArvelSystemDefaultsName)));
    daemonObjects = {server, driverAccess, systemDefaults};
    world.runFor(0);
}

void PaneTest::writeBundle(bool keycaps)
{
    const std::string contents = std::string(kPanePath) + "/Contents";
    writePropertyListFile(hostPath(contents + "/Info.plist"),
        Value::dictionary({{"CFBundleExecutable", "Arvel"}, {"CFBundleIdentifier", "com.tessmoor.Arvel.prefPane"},
            {"NSPrincipalClass", "ArvelPref"}, {"CFBundleGetInfoString", "Arvel 1.0, the trackpad's own settings"},
            {"CFBundleShortVersionString", "1.0"}}),
        nullptr, true);
    std::ifstream strings(std::string(ARVEL_SOURCE_FOLDER) + "/PrefPane/Resources/English.lproj/Localizable.strings");
    std::string text((std::istreambuf_iterator<char>(strings)), std::istreambuf_iterator<char>());
    writeText(contents + "/Resources/English.lproj/Localizable.strings", text);
    const std::string keyCode = contents + "/Resources/English.lproj/KeyCode.plist";
    if (keycaps)
        writePropertyListFile(hostPath(keyCode), Value::dictionary({{"0", "a"}, {"49", "Space"}, {"36", "Return"}, {"122", "F1"}}));
    else
        std::filesystem::remove(hostPath(keyCode));
}

void PaneTest::loadPane()
{
    // The pane runs as alice, in her session, as the host does.
    world.runAsUser(501);
    world.runAsProcess(paneProcess);
    window = std::make_unique<QWidget>();
    window->setWindowTitle("Arvel");
    pane = std::make_unique<ArvelPref>(NSBundle::bundleWithPath(kPanePath));
    QWidget* view = pane->loadMainView();
    ASSERT_NE(view, nullptr);
    (new QVBoxLayout(window.get()))->addWidget(view);
    window->show();
}

void PaneTest::showPane()
{
    pane->willSelect();
    pane->didSelect();
    world.runFor(0);
}

void PaneTest::at(double seconds, std::function<void()> action)
{
    auto timer = Timer::create(seconds, false, [action = std::move(action)](Timer&) { action(); });
    RunLoop::current().addTimer(timer, kCommonRunLoopModes);
    actions.push_back(timer);
}

QWidget* PaneTest::outlet(const std::string& name) const
{
    QString qname = QString::fromStdString(name);
    for (QWidget* root : {pane->mainView(), static_cast<QWidget*>(pane->calibrationSheet()), static_cast<QWidget*>(pane->accessibilityWarningSheet())}) {
        if (root && root->objectName() == qname)
            return root;
        if (QWidget* found = root ? root->findChild<QWidget*>(qname) : nullptr)
            return found;
    }
    ADD_FAILURE() << "no outlet " << name;
    return nullptr;
}

void PaneTest::click(const std::string& name)
{
    if (auto* button = qobject_cast<QAbstractButton*>(outlet(name)))
        button->click();
}

void PaneTest::choose(const std::string& name, int index)
{
    auto* popUp = qobject_cast<QComboBox*>(outlet(name));
    if (popUp && isPopUpItemEnabled(popUp, index)) {
        popUp->setCurrentIndex(index);
        emit popUp->activated(index);
    }
}

void PaneTest::slide(const std::string& name, int value)
{
    if (auto* slider = qobject_cast<QSlider*>(outlet(name)); slider && slider->isEnabled()) {
        slider->setSliderDown(true);
        slider->setValue(value);
        slider->setSliderDown(false);
    }
}

bool PaneTest::isEnabled(const std::string& name) const
{
    QWidget* widget = outlet(name);
    return widget && widget->isEnabled();
}

TextColour PaneTest::textColour(const std::string& name) const
{
    return ::textColour(outlet(name));
}

std::string PaneTest::text(const std::string& name) const
{
    QWidget* widget = outlet(name);
    if (auto* field = qobject_cast<QLineEdit*>(widget))
        return field->text().toStdString();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text().toStdString();
    return {};
}

std::string PaneTest::windows()
{
    world.runFor(0);
    return world.machine().windows().describe([](int pid) { return "pid " + std::to_string(pid); });
}

void PaneTest::press(const std::string& title)
{
    const auto& shown = world.machine().windows().shown();
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
        for (const auto& button : it->buttons) {
            if (button.title == title) {
                EXPECT_EQ(world.machine().windows().press(it->id, title), machine::Windows::PressResult::Pressed);
                return;
            }
        }
    }
    ADD_FAILURE() << "no button " << title << " on the screen:\n" << windows();
}

PaneTest::Lines PaneTest::paneLines() const
{
    Lines out;
    for (const auto& line : world.logLines())
        if (line.rfind("ArvelPref", 0) == 0)
            out.push_back(line);
    return out;
}
