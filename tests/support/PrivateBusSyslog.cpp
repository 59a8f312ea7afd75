// A library the private bus preloads into every program it starts: what the
// program writes with syslog(3) is appended to the file named by
// ARVEL_TEST_SYSLOG_FILE, one line "PRIORITY MESSAGE" per call (the
// priority without its facility; a newline inside a message is written as
// "\n"), so a test reads exactly what a real daemon logged and at which
// priority. The test machines have no syslog daemon to ask instead. A line
// that cannot be written is dropped; the program never notices.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int kPriorityMask = 0x07; // LOG_PRIMASK

void writeLine(int priority, const char* format, va_list arguments)
{
    const char* path = std::getenv("ARVEL_TEST_SYSLOG_FILE");
    if (!path || !*path || !format)
        return;
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
        return;
    std::string message(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(message.data(), message.size(), format, arguments);
    message.resize(static_cast<std::size_t>(length));

    std::string line = std::to_string(priority & kPriorityMask) + " ";
    for (char c : message) {
        if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    line += '\n';
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per line, so lines of programs sharing the file never mix.
    ssize_t written = write(fd, line.data(), line.size());
    (void)written;
    close(fd);
}

} // namespace

// The C library's entry points, and the checked ones a fortified build calls.
extern "C" {

__attribute__((visibility("default"))) void vsyslog(int priority, const char* format, va_list arguments)
{
    writeLine(priority, format, arguments);
}

__attribute__((visibility("default"))) void syslog(int priority, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeLine(priority, format, arguments);
    va_end(arguments);
}

__attribute__((visibility("default"))) void __vsyslog_chk(int priority, int, const char* format, va_list arguments)
{
    writeLine(priority, format, arguments);
}

__attribute__((visibility("default"))) void __syslog_chk(int priority, int, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeLine(priority, format, arguments);
    va_end(arguments);
}

} // extern "C"
