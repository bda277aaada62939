// Runs each case of cases/*.cases against one build of morvane, in a
// scratch folder of its own, as sh lines after case.sh; cases/README.md
// explains them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
const fs::path root = fs::temp_directory_path() / ("morvane-test-" + std::to_string(getpid()));

struct Case {
    std::string sName, sLine, sBody;  // sLine: "case NAME [posix|windows] [root]"
};

void PrintTo(const Case &c, std::ostream *pOut)
{
    *pOut << c.sLine;
}

std::vector<Case> LoadCases()
{
    std::vector<Case> cases;
    for (const auto &file : fs::directory_iterator(MORVANE_CASES)) {
        std::ifstream in(file.path());
        for (std::string sText; file.path().extension() == ".cases" && std::getline(in, sText);)
            if (sText.compare(0, 5, "case ") == 0)
                cases.push_back({sText.substr(5, sText.find(' ', 5) - 5), sText, ""});
            else if (!cases.empty())
                cases.back().sBody += sText + "\n";
    }
    // Cases tagged with a word of MORVANE_EXCLUDE do not apply to this build.
    std::istringstream exclude(MORVANE_EXCLUDE);
    for (std::string sTag; exclude >> sTag;)
        cases.erase(std::remove_if(cases.begin(), cases.end(),
                                   [&](const Case &c) {
                                       return (c.sLine + " ").find(" " + sTag + " ") !=
                                              std::string::npos;
                                   }),
                    cases.end());
    return cases;
}

// An emulated build runs through its emulator (MORVANE_RUNNER) unless the
// kernel's binfmt_misc runs it as a native program: only then can it be
// traced, or run as another user, like one.
bool RunsDirectly()
{
    static const bool bDirect =
        !MORVANE_EMULATED || std::system(MORVANE_BINARY " >/dev/null 2>&1") == 1 << 8;
    return bDirect;
}

class EndToEnd : public ::testing::TestWithParam<Case> {
    void SetUp() override { fs::remove_all(root), fs::create_directories(root / "work"); }
    void TearDown() override { umount2((root / "work").c_str(), MNT_DETACH), fs::remove_all(root); }
};

TEST_P(EndToEnd, Runs)
{
    const Case &c = GetParam();
    if (c.sLine.find(" root") != std::string::npos && geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const bool bNative = (c.sLine + " ").find(" traced ") != std::string::npos ||
                         c.sLine.find(" root") != std::string::npos;
    if (bNative && !RunsDirectly())
        GTEST_SKIP() << "needs binfmt_misc to run this emulated build directly "
                        "(scripts/test registers qemu there as root)";
    // No case may hang the suite: each has a bound, yet one wide enough for
    // a machine busy with other work, where a traced case under qemu takes
    // ten times as long as on an idle one ("timeout=SECONDS" on its line for
    // the few slow ones).  A case waits for events, never for a time.
    int nSeconds = 300;
    if (const std::size_t nTag = c.sLine.find(" timeout="); nTag != std::string::npos)
        nSeconds = std::stoi(c.sLine.substr(nTag + 9));
    // A serial case stops or fails the system call that forces a file to
    // storage, which morvane makes only when it forces one file at a time.
    const bool bSerial = MORVANE_SERIAL || (c.sLine + " ").find(" serial ") != std::string::npos;
    std::ofstream(root / "case") << ". " MORVANE_CASES "/../case.sh\n" << c.sBody << "finish\n";
    const std::string sRunner = RunsDirectly() && MORVANE_EMULATED ? "" : MORVANE_RUNNER " ";
    const std::string sCommand =
        "cd " + (root / "work").string() +
        " && PATH=" MORVANE_TOOLS ":$PATH PLATFORM=" MORVANE_PLATFORM " MORVANE='" + sRunner +
        MORVANE_BINARY "' WINEDEBUG=-all " + (bSerial ? MORVANE_TOOLS "/nouring " : "") +
        "timeout -k 5 " + std::to_string(nSeconds) + " sh ../case >../log 2>&1";
    const int iStatus = std::system(sCommand.c_str());
    std::ifstream log(root / "log");
    const std::string sLog(std::istreambuf_iterator<char>(log), {});
    if (WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 77)  // the case's "need" failed
        GTEST_SKIP() << sLog;
    if (WIFEXITED(iStatus) && (WEXITSTATUS(iStatus) == 124 || WEXITSTATUS(iStatus) == 137))
        FAIL() << "ran over its " << nSeconds << " seconds\n" << sLog;
    EXPECT_EQ(iStatus, 0) << sLog;
}

INSTANTIATE_TEST_SUITE_P(, EndToEnd, ::testing::ValuesIn(LoadCases()),
                         [](const auto &info) { return info.param.sName; });

}  // namespace
