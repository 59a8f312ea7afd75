// The model code of every row of MachineOperations.h: what the machine does
// when a program asks, in process or over the bus alike.
#include "PerformerTable.h"

#include "RunLoop/Clock.h"
#include "machine/Machine.h"

namespace machine {

namespace {

// A copy of what the model holds, nothing when it holds none.
template <class Answer, class T>
std::optional<Answer> copyOf(const T* held)
{
    return held ? std::optional<Answer>(*held) : std::nullopt;
}

IOServiceModel* modelOf(Machine& m, std::uint64_t entry)
{
    return m.registry().model(entry);
}


// A program's button list: {Title, Enabled} dictionaries; anything else in
// it is left out.
std::vector<ScreenButton> screenButtons(const Value& buttons)
{
    std::vector<ScreenButton> out;
    if (const Value::Array* list = buttons.arrayValue()) {
        for (const Value& button : *list) {
            if (out.size() >= Windows::kMaxButtons)
                break;
            if (const std::string* title = button["Title"].string())
                out.push_back({*title, button["Enabled"].booleanOr(true)});
        }
    }
    return out;
}

} // namespace

void definePerformers(PerformerTable& t)
{
    // ---- the I/O registry
    t.perform(ops::registryMatching, [](Machine& m, Caller&, const std::string& className) { return m.registry().matchingServices(className); });
    t.perform(ops::registryIsActive, [](Machine& m, Caller&, std::uint64_t entry) { return m.registry().isActive(entry); });
    t.perform(ops::registryClassName, [](Machine& m, Caller&, std::uint64_t entry) { return m.registry().className(entry); });
    t.subscribe(
        ops::registryListener,
        [](Machine& m, Caller&, const auto& tell, const std::string& className, RegistryEvent event) {
            return m.registry().addListener(className, event, tell);
        },
        [](Machine& m, std::uint64_t id) { m.registry().removeListener(id); });
    t.perform(ops::entryOpen, [](Machine& m, Caller& c, std::uint64_t entry, std::uint32_t type) -> Outcome<IOReturnCode, std::uint64_t> {
        IOServiceModel* model = modelOf(m, entry);
        if (!model)
            return {};
        std::uint64_t connection = 0;
        int r = model->open(type, &connection, c.userIdOrNobody());
        // A caller that leaves without closing leaves nothing open.
        if (r == kIOReturnSuccess) {
            c.hold({ops::entryOpen.name(), entry, connection}, [&m, entry, connection] {
                if (IOServiceModel* stillThere = modelOf(m, entry))
                    stillThere->close(connection);
            });
        }
        return {r, connection};
    });
    t.perform(ops::entryClose, [](Machine& m, Caller& c, std::uint64_t entry, std::uint64_t connection) -> IOReturnCode {
        c.letGo({ops::entryOpen.name(), entry, connection});
        IOServiceModel* model = modelOf(m, entry);
        return model ? IOReturnCode(model->close(connection)) : IOReturnCode();
    });
    t.perform(ops::entryCallScalar,
        [](Machine& m, Caller&, std::uint64_t entry, std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
            std::uint32_t outputCount) -> Outcome<IOReturnCode, std::vector<std::int64_t>> {
            IOServiceModel* model = modelOf(m, entry);
            if (!model)
                return {};
            std::vector<std::int64_t> outputs(outputCount, 0);
            int r = model->callScalar(connection, index, inputs, outputs);
            return {r, std::move(outputs)};
        });
    t.perform(ops::entryCallStructure,
        [](Machine& m, Caller&, std::uint64_t entry, std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
            std::uint32_t size) -> Outcome<IOReturnCode, Value::Bytes> {
            IOServiceModel* model = modelOf(m, entry);
            if (!model)
                return {};
            Value::Bytes structure(size, 0);
            int r = model->callStructure(connection, index, inputs, structure);
            return {r, r == kIOReturnSuccess ? std::move(structure) : Value::Bytes {}};
        });
    t.perform(ops::entryProperty, [](Machine& m, Caller&, std::uint64_t entry, const std::string& key) {
        IOServiceModel* model = modelOf(m, entry);
        return model ? model->property(key) : Value();
    });
    t.perform(ops::entrySetProperties, [](Machine& m, Caller& c, std::uint64_t entry, const Value& properties) -> IOReturnCode {
        IOServiceModel* model = modelOf(m, entry);
        return model ? IOReturnCode(model->setProperties(properties, c.userIdOrNobody())) : IOReturnCode();
    });
    t.perform(ops::entrySetProperty, [](Machine& m, Caller& c, std::uint64_t entry, const std::string& key, const Value& value) -> IOReturnCode {
        IOServiceModel* model = modelOf(m, entry);
        return model ? IOReturnCode(model->setProperty(key, value, c.userIdOrNobody())) : IOReturnCode();
    });
    t.perform(ops::hidSetAcceleration,
        [](Machine& m, Caller&, std::uint64_t entry, std::uint64_t connection, const std::string& key, double value) -> IOReturnCode {
            auto* hid = dynamic_cast<HIDSystem*>(modelOf(m, entry));
            return hid ? hid->setAcceleration(connection, key, value) : kIOReturnBadArgument;
        });
    t.perform(ops::hidSetDoubleClickThreshold, [](Machine& m, Caller&, double seconds) { return m.hidSystem().setDoubleClickThreshold(seconds); });

    // ---- the configuration store
    t.perform(ops::storeValue, [](Machine& m, Caller&, const std::string& key) { return m.dynamicStore().value(key); });
    t.subscribe(
        ops::storeWatcher, [](Machine& m, Caller&, const auto& tell) { return m.dynamicStore().watch(tell); },
        [](Machine& m, std::uint64_t id) { m.dynamicStore().unwatch(id); });

    // ---- system power
    t.subscribe(
        ops::powerClient, [](Machine& m, Caller&, const auto& tell) { return m.power().addClient(tell); },
        [](Machine& m, std::uint64_t id) { m.power().removeClient(id); });
    t.perform(ops::powerAcknowledge, [](Machine& m, Caller&, std::int64_t argument) { return m.power().acknowledge(argument); });

    // ---- processes
    t.perform(ops::processWithPid, [](Machine& m, Caller&, int pid) { return copyOf<ProcessInfo>(m.processes().processWithPid(pid)); });
    t.perform(ops::processWithSerial,
        [](Machine& m, Caller&, const ProcessSerial& serial) { return copyOf<ProcessInfo>(m.processes().processWithSerial(serial)); });
    t.perform(ops::frontProcess, [](Machine& m, Caller&) { return copyOf<ProcessInfo>(m.processes().frontProcess()); });
    t.perform(ops::applications, [](Machine& m, Caller&) {
        std::vector<ProcessInfo> out;
        for (const Process* p : m.processes().applications())
            out.push_back(*p);
        return out;
    });
    t.perform(ops::applicationSnapshot, [](Machine& m, Caller&) { return m.processes().snapshot(); });
    t.perform(ops::processListing, [](Machine& m, Caller&) { return m.processes().processListing(); });
    t.subscribe(
        ops::applicationListener,
        [](Machine& m, Caller&, const auto& tell) { return static_cast<std::uint64_t>(m.processes().addListener(tell)); },
        [](Machine& m, std::uint64_t id) { m.processes().removeListener(static_cast<int>(id)); });
    t.perform(ops::setHostPid, [](Machine& m, Caller& c, int pid, int hostPid) {
        // Anyone else could point the machine's quit, and its trust in the
        // programs it started, at a process of their choosing.
        const Process* process = m.processes().processWithPid(pid);
        return process && c.callsFromChildOf(hostPid, process->hostPid) && m.processes().setHostPid(pid, hostPid);
    });

    // ---- accessibility
    t.perform(ops::accessibilityEnabled, [](Machine& m, Caller&) { return m.accessibility().enabled(); });
    t.perform(ops::elementExists, [](Machine& m, Caller&, int pid, std::uint64_t element) { return m.accessibility().exists({pid, element}); });
    t.perform(ops::copyAttribute, [](Machine& m, Caller&, int pid, std::uint64_t element, const std::string& name) -> Outcome<AXErrorCode, Attribute> {
        Attribute value;
        int r = m.accessibility().copyAttribute({pid, element}, name, value);
        return {r, r == kAXErrorSuccess ? std::move(value) : Attribute()};
    });
    t.subscribe(
        ops::axObserver,
        [](Machine& m, Caller&, const auto& tell, int pid) { return static_cast<std::uint64_t>(m.accessibility().createObserver(pid, tell)); },
        [](Machine& m, std::uint64_t id) { m.accessibility().destroyObserver(static_cast<int>(id)); });
    t.perform(ops::addNotification,
        [](Machine& m, Caller& c, std::uint64_t observer, int pid, std::uint64_t element, const std::string& notification) -> AXErrorCode {
            if (!c.holds({ops::axObserver.start().name(), observer}))
                return kAXErrorInvalidUIElementObserver;
            return m.accessibility().addNotification(static_cast<int>(observer), {pid, element}, notification);
        });
    t.perform(ops::removeNotification,
        [](Machine& m, Caller& c, std::uint64_t observer, int pid, std::uint64_t element, const std::string& notification) -> AXErrorCode {
            if (!c.holds({ops::axObserver.start().name(), observer}))
                return kAXErrorInvalidUIElementObserver;
            return m.accessibility().removeNotification(static_cast<int>(observer), {pid, element}, notification);
        });

    // ---- the pointer
    t.perform(ops::buttonState, [](Machine& m, Caller&) { return m.pointer().buttonState(); });
    t.perform(ops::warp, [](Machine& m, Caller&, double x, double y) { m.pointer().warp({x, y}); });
    t.perform(ops::setLocalEventsSuppressionInterval,
        [](Machine& m, Caller&, double seconds) { m.pointer().setLocalEventsSuppressionInterval(seconds); });

    // ---- login sessions
    t.perform(ops::session, [](Machine& m, Caller&, std::uint32_t id) { return copyOf<LoginSession>(m.loginSessions().session(id)); });
    t.subscribe(
        ops::sessionListener,
        [](Machine& m, Caller&, const auto& tell) { return static_cast<std::uint64_t>(m.loginSessions().addListener(tell)); },
        [](Machine& m, std::uint64_t id) { m.loginSessions().removeListener(static_cast<int>(id)); });

    // ---- users
    t.perform(ops::userNamed, [](Machine& m, Caller&, const std::string& name) { return copyOf<User>(m.users().userNamed(name)); });
    t.perform(ops::userWithId, [](Machine& m, Caller&, std::uint32_t uid) { return copyOf<User>(m.users().userWithId(uid)); });
    t.perform(ops::expandTilde, [](Machine& m, Caller&, const std::string& path, std::uint32_t uid) { return m.expandTilde(path, uid); });

    // ---- opening applications: the machine takes the caller for whom the
    // link says, never for anything in the arguments.
    t.perform(ops::openApplication, [](Machine& m, Caller& c, const std::string& path, const std::vector<std::string>& arguments) {
        ApplicationOpener::Opened opened = m.opener().openApplication(path, arguments, c.userId(), c.machinePid());
        return Outcome<LaunchCode, int> {opened.code, opened.pid};
    });
    t.perform(ops::runOpen, [](Machine& m, Caller& c, const std::vector<std::string>& arguments) {
        ApplicationOpener::Ran ran = m.opener().open(arguments, c.userId(), c.machinePid());
        return Outcome<ExitStatus, std::string> {ran.status, ran.output};
    });

    // ---- the windows of GUI programs
    t.subscribe(
        ops::windowPresses, [](Machine& m, Caller&, const auto& tell) { return m.windows().addPressListener(tell); },
        [](Machine& m, std::uint64_t id) { m.windows().removePressListener(id); });
    t.perform(ops::windowOpen,
        [](Machine& m, Caller& c, int pid, std::uint64_t listener, const std::string& kind, std::uint64_t parent, const std::string& title,
            const std::string& message, const Value& buttons) -> std::uint64_t {
            // Presses go only where the caller itself listens.
            if (listener && !c.holds({ops::windowPresses.start().name(), listener}))
                return 0;
            std::uint64_t id = m.windows().open({0, pid, kind, parent, title, message, screenButtons(buttons), listener});
            if (id)
                c.hold({ops::windowOpen.name(), id}, [&m, id] { m.windows().close(id); });
            return id;
        });
    t.perform(ops::windowUpdate,
        [](Machine& m, Caller& c, std::uint64_t id, const std::string& title, const std::string& message, const Value& buttons) {
            return c.holds({ops::windowOpen.name(), id}) && m.windows().update(id, title, message, screenButtons(buttons));
        });
    t.perform(ops::windowAnswer, [](Machine& m, Caller& c, std::uint64_t serial, const std::string& outcome) {
        // Only the program that was asked answers.
        return m.windows().answer(serial, c.machinePid(), outcome);
    });
    t.perform(ops::windowClose, [](Machine& m, Caller& c, std::uint64_t id) { return c.letGo({ops::windowOpen.name(), id}) && m.windows().close(id); });

    // ---- alerts to the person at the console
    t.perform(ops::userNotificationDisplay,
        [](Machine& m, Caller& c, std::uint64_t listener, std::uint32_t flags, const std::string& header, const std::string& message,
            const std::vector<std::string>& buttons) -> Outcome<NotificationCode, std::uint64_t> {
            if (int failed = m.failures().take("CFUserNotificationDisplayAlert"))
                return {failed, 0};
            // Presses go only where the caller itself listens.
            if (!listener || !c.holds({ops::windowPresses.start().name(), listener}))
                return {};
            std::vector<ScreenButton> onScreen;
            for (const std::string& title : buttons)
                onScreen.push_back({title, true});
            const int pid = c.machinePid();
            std::uint64_t window = m.windows().open({0, pid, "alert", 0, header, message, onScreen, listener});
            if (!window)
                return {};
            // The alerts' list holds the texts as the screen bounded them.
            const ScreenWindow& shown = *m.windows().window(window);
            static const char* const levels[] = {"stop", "note", "caution", "plain"};
            m.alerts().show({0, pid, shown.title, shown.message, buttons, levels[flags & 3], window});
            c.hold({ops::userNotificationDisplay.name(), window}, [&m, window] {
                m.alerts().dismissShownIn(window);
                m.windows().close(window);
            });
            return {0, window};
        });
    t.perform(ops::userNotificationDismiss, [](Machine& m, Caller& c, std::uint64_t window) {
        if (!c.letGo({ops::userNotificationDisplay.name(), window}))
            return false;
        m.alerts().dismissShownIn(window);
        return m.windows().close(window);
    });

    // ---- authorization
    t.subscribe(
        ops::authorizationPrompt,
        [](Machine& m, Caller& c, const auto& tell, const std::string& right) -> std::uint64_t {
            const Process* process = m.processes().processWithPid(c.machinePid());
            const std::string program = process ? process->name : "a program";
            return m.authorization().ask(c.machinePid(), program, right, [tell](std::int32_t status) { tell(status); });
        },
        [](Machine& m, std::uint64_t prompt) { m.authorization().forget(prompt); });
    t.subscribe(
        ops::privilegedRun,
        [](Machine& m, Caller& c, const auto& tell, std::uint64_t prompt, const std::string& path,
            const std::vector<std::string>& arguments) -> std::uint64_t {
            // Only the holder of the prompt that granted the right uses it.
            if (!c.holds({ops::authorizationPrompt.start().name(), prompt}))
                return 0;
            return m.authorization().runPrivileged(prompt, path, arguments, [tell](int status, const std::string& output) {
                tell(status, Value::Bytes(output.begin(), output.end()));
            });
        },
        [](Machine& m, std::uint64_t run) { m.authorization().forgetRun(run); });
    t.perform(ops::finderRestart, [](Machine& m, Caller& c) {
        // The Finder restarts for the person at the console (a program of
        // the console's session) and for root; nobody else ends everyone's
        // programs.
        const Process* process = m.processes().processWithPid(c.machinePid());
        const LoginSession* console = m.loginSessions().consoleSession();
        const std::string asker = (process ? process->name : std::string("a program")) + " (pid " + std::to_string(c.machinePid()) + ")";
        if (c.userId() != 0u && !(process && console && process->session == console->id)) {
            m.systemLog().append({currentDate(), "arvel-machine", 0, 3,
                "Finder: restart refused to " + asker + ": only the console's user and root restart the machine"});
            return;
        }
        m.requestRestart(asker);
    });

    // ---- the machine itself
    t.perform(ops::hostIdentifier, [](Machine& m, Caller&) { return m.hostIdentifier(); });
    t.perform(ops::systemVersion, [](Machine& m, Caller&) { return m.systemVersion(); });
    t.perform(ops::appendSystemLog, [](Machine& m, Caller&, const std::string& program, int pid, int priority, const std::string& message) {
        m.systemLog().append({currentDate(), program, pid, priority, message});
    });
    t.perform(ops::programIdentity, [](Machine&, Caller& c) { return c.userId(); });
}

} // namespace machine
