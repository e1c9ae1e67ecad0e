// probe_test.cpp - the charge flag probe on files of known contents.

#include "charge_probe.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

struct Probed {
    int answer;
    std::string message;
    int descriptors_left_open;
};

int open_descriptors()
{
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        n++;
    return n;
}

// Runs the probe on path with standard output caught, and counts the
// descriptors it left open (meaningful only while no other thread opens any).
Probed probe(const fs::path& path)
{
    int before = open_descriptors();
    fflush(stdout);
    FILE* sink = tmpfile();
    int saved = dup(1);
    dup2(fileno(sink), 1);

    int answer = read_charge_flag_from(path.c_str());

    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string message;
    rewind(sink);
    for (int c; (c = fgetc(sink)) != EOF;)
        message += static_cast<char>(c);
    fclose(sink);
    return { answer, message, open_descriptors() - before };
}

class ProbeFiles : public ::testing::Test {
protected:
    fs::path file_with(const std::string& contents)
    {
        fs::path path = dir / "app_info";
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    TempDir tmp { "probe_test" };
    const fs::path& dir = tmp.path();
};

// The probe reads 1024 bytes at most.
std::string padding(size_t n) { return std::string(n, '.'); }

struct Case {
    const char* name;
    std::string contents;
    int answer;
    const char* message;
};

const Case cases[] = {
    { "empty_file", "", 0, "" },
    { "colon_blank_one", "charge_flag: 1", 1, "Charge Flag: 1" },
    { "among_other_entries", "huawei_fac_info: 0x1a\ncharge_flag: 1\nboard_id: 3\n", 1, "Charge Flag: 1" },
    { "colon_blank_zero", "charge_flag: 0\n", 0, "" },
    { "colon_blank_other_character", "charge_flag: y\n", 0, "" },
    { "only_one_character_examined", "charge_flag: 10\n", 1, "Charge Flag: 1" },
    { "equals_one_is_one_place_short", "charge_flag=1\n", 0, "" },
    { "equals_one_followed_by_one", "charge_flag=11\n", 1, "Charge Flag: 1" },
    { "blank_equals_blank_one", "charge_flag = 1\n", 0, "" },
    { "any_two_skipped_characters", "charge_flag##1", 1, "Charge Flag: 1" },
    { "tail_of_a_longer_word", "xcharge_flag: 1\n", 1, "Charge Flag: 1" },
    { "capital_first_letter", "Charge_flag: 1\n", 0, "" },
    { "all_capitals", "CHARGE_FLAG: 1\n", 0, "" },
    { "first_occurrence_decides", "charge_flag: 0\ncharge_flag: 1\n", 0, "" },
    { "key_at_end_of_text", "board_id: 3\ncharge_flag", 0, "" },
    { "value_position_just_past_end", "charge_flag: ", 0, "" },
    { "nul_before_key_ends_text", "board_id: 3\n\0charge_flag: 1\n"s, 0, "" },
    { "nul_in_skipped_characters_ends_text", "charge_flag:"s + '\0' + "1\n", 0, "" },
    { "nul_as_first_skipped_character", "charge_flag\0 1"s, 0, "" },
    { "nul_after_value_is_harmless", "charge_flag: 1\0junk"s, 1, "Charge Flag: 1" },
    { "value_at_last_byte_read", padding(1010) + "charge_flag: 1", 1, "Charge Flag: 1" },
    { "value_just_past_bytes_read", padding(1011) + "charge_flag: 1", 0, "" },
    { "key_straddling_bytes_read", padding(1018) + "charge_flag: 1", 0, "" },
    { "key_just_past_bytes_read", padding(1024) + "charge_flag: 1", 0, "" },
    { "full_read_without_key", padding(4096), 0, "" },
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ProbeContents : public ProbeFiles, public ::testing::WithParamInterface<Case> { };

TEST_P(ProbeContents, AnswersAndReports)
{
    Probed got = probe(file_with(GetParam().contents));
    EXPECT_EQ(got.answer, GetParam().answer);
    EXPECT_EQ(got.message, GetParam().message);
    EXPECT_EQ(got.descriptors_left_open, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ProbeContents, ::testing::ValuesIn(cases),
    [](const auto& p) { return std::string(p.param.name); });

using ProbeFailures = ProbeFiles;

TEST_F(ProbeFailures, MissingFileIsReportedOnceAndAnswersNotSet)
{
    Probed got = probe(dir / "no_such_file");
    EXPECT_EQ(got.answer, 0);
    EXPECT_EQ(got.message, "could not open /proc/app_info:No such file or directory");
    EXPECT_EQ(got.descriptors_left_open, 0);
}

TEST_F(ProbeFailures, FailedReadIsReportedAndAnswersNotSet)
{
    // A directory opens read-only but cannot be read.
    Probed got = probe(dir);
    EXPECT_EQ(got.answer, 0);
    EXPECT_EQ(got.message, "could not read /proc/app_info:Is a directory");
    EXPECT_EQ(got.descriptors_left_open, 0);
}

// A FIFO stands in for a kernel file whose read can wait: it lets a test
// decide when bytes arrive and how many each read can get.
class ProbeFifo : public ProbeFiles {
protected:
    void SetUp() override
    {
        fifo = dir / "app_info";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        signal(SIGPIPE, SIG_IGN);
    }
    fs::path fifo;
};

std::atomic<int> alarms { 0 };
void count_alarm(int) { alarms++; }

TEST_F(ProbeFifo, InterruptedReadIsIssuedAgain)
{
    // SIGALRM without SA_RESTART, so the kernel fails the waiting read with
    // EINTR instead of restarting it on our behalf.
    struct sigaction action = {};
    action.sa_handler = count_alarm;
    struct sigaction previous;
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    alarms = 0;

    std::thread writer([this] {
        // Only the probe's thread may take the signals.
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &alarm, nullptr);

        // Opening for writing waits for the probe's open, so the timer only
        // ever interrupts the read, which the FIFO keeps waiting.
        int fd = open(fifo.c_str(), O_WRONLY);
        itimerval every_20ms = { { 0, 20000 }, { 0, 20000 } };
        setitimer(ITIMER_REAL, &every_20ms, nullptr);
        while (alarms < 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        itimerval off = {};
        setitimer(ITIMER_REAL, &off, nullptr);
        std::string text = "charge_flag: 1\n";
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    });
    Probed got = probe(fifo);
    writer.join();
    sigaction(SIGALRM, &previous, nullptr);

    EXPECT_GE(alarms, 5);
    EXPECT_EQ(got.answer, 1);
    EXPECT_EQ(got.message, "Charge Flag: 1");
}

TEST_F(ProbeFifo, OnlyOneReadIsMade)
{
    // The first piece holds no key; a second read would find it in the next.
    std::thread writer([this] {
        int fd = open(fifo.c_str(), O_WRONLY);
        std::string first = "board_id: 3\n", second = "charge_flag: 1\n";
        EXPECT_EQ(write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // By now the probe has closed the FIFO: nobody is left to read this.
        EXPECT_EQ(write(fd, second.data(), second.size()), -1);
        EXPECT_EQ(errno, EPIPE);
        close(fd);
    });
    Probed got = probe(fifo);
    writer.join();

    EXPECT_EQ(got.answer, 0);
    EXPECT_EQ(got.message, "");
}

} // namespace
