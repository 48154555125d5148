#pragma once
// A simulated printer on a pseudo-terminal: the link opens the slave side by
// its path exactly as it would open /dev/ttyUSB0, and a responder thread on
// the master side answers like common printer firmware: "ok", temperature
// replies to M105, "busy: processing" and "echo:" chatter, checksum and line
// number checks with "Resend:", and, on request, a forced resend or vanishing
// mid-job (the cable pulled).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct SimPrinterOptions {
    int rejectLineOnce = -1;   // answer this line number's first arrival with a resend
    int vanishAfter = -1;      // close the port after this many accepted commands
    int fatalAfter = -1;       // report a firmware halt after this many accepted commands
    bool chatter = true;       // random echo: and busy: lines between answers
    bool sayStart = true;      // "start" when the responder begins
    int replyDelayUs = 0;      // time each command takes
};


class SimPrinter {
public:
    using Options = SimPrinterOptions;
    SimPrinter() : SimPrinter(Options()) {}
    explicit SimPrinter(Options o) : opt_(o)
    {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            return;
        termios t;
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        path_ = name;
        thread_ = std::thread([this] { run(); });
    }
    ~SimPrinter()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
    }

    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }

    // Commands executed, in order (without line numbers and checksums).
    std::vector<std::string> accepted() const
    {
        std::lock_guard<std::mutex> g(mu_);
        return accepted_;
    }
    // Every line as it arrived, numbers and checksums included.
    std::vector<std::string> received() const
    {
        std::lock_guard<std::mutex> g(mu_);
        return received_;
    }
    bool vanished() const { return vanished_; }

private:
    void closeMaster()
    {
        std::lock_guard<std::mutex> g(fdMu_);
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    void send(const std::string &s)
    {
        std::lock_guard<std::mutex> g(fdMu_);
        if (master_ < 0)
            return;
        const char *p = s.data();
        size_t left = s.size();
        while (left > 0) {
            const ssize_t n = ::write(master_, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN) {
                    usleep(100);
                    continue;
                }
                return;
            }
            p += n;
            left -= size_t(n);
        }
    }

    void run()
    {
        if (opt_.sayStart)
            send("start\necho: simulated printer\n");
        std::string buf;
        char chunk[4096];
        while (!stop_ && !vanished_) {
            pollfd p{master_, POLLIN, 0};
            const int r = ::poll(&p, 1, 20);
            if (r <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0)
                continue;
            buf.append(chunk, size_t(n));
            size_t nl;
            while (!vanished_ && (nl = buf.find('\n')) != std::string::npos) {
                std::string line = buf.substr(0, nl);
                buf.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (!line.empty())
                    handle(line);
            }
        }
    }

    void handle(const std::string &line)
    {
        {
            std::lock_guard<std::mutex> g(mu_);
            received_.push_back(line);
        }
        std::string cmd = line;
        long number = -1;
        if (line[0] == 'N') {
            const size_t star = line.rfind('*');
            if (star == std::string::npos) {
                reply("Error:No Checksum with line number, Last Line: " + std::to_string(last_) +
                      "\nResend: " + std::to_string(last_ + 1) + "\nok\n");
                return;
            }
            unsigned char cs = 0;
            for (size_t i = 0; i < star; ++i)
                cs ^= static_cast<unsigned char>(line[i]);
            const int given = std::atoi(line.c_str() + star + 1);
            number = std::strtol(line.c_str() + 1, nullptr, 10);
            const size_t sp = line.find(' ');
            cmd = sp == std::string::npos || sp > star ? "" : line.substr(sp + 1, star - sp - 1);
            const bool isM110 = cmd.rfind("M110", 0) == 0;
            if (given != cs || (number == opt_.rejectLineOnce && !rejected_)) {
                if (number == opt_.rejectLineOnce)
                    rejected_ = true;
                reply("Error:checksum mismatch, Last Line: " + std::to_string(last_) +
                      "\nResend: " + std::to_string(last_ + 1) + "\nok\n");
                return;
            }
            if (!isM110 && number != last_ + 1) {
                reply("Error:Line Number is not Last Line Number+1, Last Line: " +
                      std::to_string(last_) + "\nResend: " + std::to_string(last_ + 1) + "\nok\n");
                return;
            }
            if (isM110) {
                const size_t npos = cmd.find('N');
                last_ = npos == std::string::npos ? 0 : std::strtol(cmd.c_str() + npos + 1, nullptr, 10);
            } else {
                last_ = number;
            }
        }
        int count;
        {
            std::lock_guard<std::mutex> g(mu_);
            accepted_.push_back(cmd);
            count = int(accepted_.size());
        }
        if (opt_.replyDelayUs > 0)
            usleep(useconds_t(opt_.replyDelayUs));
        if (opt_.vanishAfter >= 0 && count >= opt_.vanishAfter) {
            vanished_ = true;
            closeMaster();
            return;
        }
        if (opt_.fatalAfter >= 0 && count >= opt_.fatalAfter) {
            reply("Error:Printer halted. kill() called!\n");
            return;
        }
        std::string out;
        if (opt_.chatter) {
            const unsigned r = rng_() % 100;
            if (r < 3)
                out += "echo:busy processing\n";
            else if (r < 6)
                out += "busy: processing\n";
        }
        if (cmd.rfind("M105", 0) == 0)
            out += "ok T:205 B:60\n";
        else
            out += "ok\n";
        reply(out);
    }

    void reply(const std::string &s) { send(s); }

    Options opt_;
    int master_ = -1, slave_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> vanished_{false};
    std::mutex fdMu_;
    mutable std::mutex mu_;
    std::vector<std::string> accepted_, received_;
    long last_ = 0;
    bool rejected_ = false;
    std::mt19937 rng_{12345};
};
