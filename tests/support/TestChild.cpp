// A child program for the process runner's tests. Its arguments are a script of commands run in
// order, for example `print-out hi sleep 0.5 exit 3`:
//
//   out N / err N        write N bytes of the stream's pattern (see patternByte) to stdout / stderr
//   print-out T / print-err T   write the text T
//   env NAME             print "NAME=value\n", or "NAME unset\n"
//   environ              print every environment entry, each followed by "\n"
//   fds                  print each open descriptor above 2, each followed by "\n"
//   stdin-id             print "device:inode" of descriptor 0, or "closed"
//   pid FILE             write our pid to FILE
//   sleep S              sleep S seconds (fractions allowed)
//   ignore-term          ignore SIGTERM (inherited by later forks)
//   leave-group          move into our parent's process group, out of the one we were started in
//   close-out / close-err   close stdout / stderr
//   fork FILE ... end    start a grandchild that runs the commands up to "end" and exits 0; it
//                        inherits our pipes and process group; we write its pid to FILE and go on
//   exit N               exit with status N
//   raise N              die by signal N
//
// Without an exit command the program exits 0 at the end of the script.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifndef __APPLE__
extern char** environ;
#else
#include <crt_externs.h>
#define environ (*_NSGetEnviron())
#endif

namespace {

// Must match the copy in ProcessRunnerTest.cpp: the tests rebuild the expected bytes from it.
char patternByte(std::size_t index, unsigned char salt) {
    return static_cast<char>((index * 131 + salt) % 256);
}

[[noreturn]] void die(const std::string& what) {
    const std::string text = "test child: " + what + "\n";
    (void)!::write(STDERR_FILENO, text.data(), text.size());
    std::_Exit(120);
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            std::_Exit(121);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void writePattern(int fd, std::size_t count, unsigned char salt) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = patternByte(i, salt);
    writeAll(fd, bytes);
}

// Written under a temporary name and renamed, so a reader never sees a half-written pid.
void writePidFile(const std::string& path, pid_t pid) {
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        die("cannot write " + temporary);
    writeAll(fd, std::to_string(pid));
    ::close(fd);
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        die("cannot rename " + temporary);
}

void runScript(const std::vector<std::string>& script) {
    std::size_t i = 0;
    auto next = [&]() -> const std::string& {
        if (i >= script.size())
            die("missing argument after " + script[i - 1]);
        return script[i++];
    };
    while (i < script.size()) {
        const std::string& command = next();
        if (command == "out" || command == "err") {
            const auto count = std::stoull(next());
            writePattern(command == "out" ? STDOUT_FILENO : STDERR_FILENO, count,
                         static_cast<unsigned char>(command[0]));
        } else if (command == "print-out" || command == "print-err") {
            writeAll(command == "print-out" ? STDOUT_FILENO : STDERR_FILENO, next());
        } else if (command == "env") {
            const std::string& name = next();
            const char* value = std::getenv(name.c_str());
            writeAll(STDOUT_FILENO,
                     value != nullptr ? name + "=" + value + "\n" : name + " unset\n");
        } else if (command == "environ") {
            for (char** entry = environ; *entry != nullptr; ++entry)
                writeAll(STDOUT_FILENO, std::string(*entry) + "\n");
        } else if (command == "fds") {
            for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) {
                if (::fcntl(fd, F_GETFD) != -1)
                    writeAll(STDOUT_FILENO, std::to_string(fd) + "\n");
            }
        } else if (command == "stdin-id") {
            struct stat status {};
            writeAll(STDOUT_FILENO,
                     ::fstat(STDIN_FILENO, &status) != 0
                         ? std::string("closed")
                         : std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino));
        } else if (command == "pid") {
            writePidFile(next(), ::getpid());
        } else if (command == "sleep") {
            std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(next())));
        } else if (command == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (command == "leave-group") {
            if (::setpgid(0, ::getpgid(::getppid())) != 0)
                die("cannot leave the process group");
        } else if (command == "close-out" || command == "close-err") {
            ::close(command == "close-out" ? STDOUT_FILENO : STDERR_FILENO);
        } else if (command == "fork") {
            const std::string& pidFile = next();
            std::vector<std::string> body;
            while (i < script.size() && script[i] != "end")
                body.push_back(script[i++]);
            if (i == script.size())
                die("fork without end");
            ++i;
            const pid_t pid = ::fork();
            if (pid < 0)
                die("fork failed");
            if (pid == 0) {
                runScript(body);
                std::_Exit(0);
            }
            writePidFile(pidFile, pid);
        } else if (command == "exit") {
            std::_Exit(std::stoi(next()));
        } else if (command == "raise") {
            const int number = std::stoi(next());
            std::signal(number, SIG_DFL);
            ::raise(number);
            die("survived signal " + std::to_string(number));
        } else {
            die("unknown command " + command);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    runScript(std::vector<std::string>(argv + 1, argv + argc));
    return 0;
}
