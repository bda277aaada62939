// Runs the end-to-end cases of tests/cases/*.cases against the built
// morvane, each in a scratch folder of its own; cases/README.md explains
// their format.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Line = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;  // relative name -> content; folders "name/"

struct Case {
    std::string sName;   // file_Case, as gtest shows it
    std::string sWhere;  // file:line of its "case" line
    std::vector<Line> lines;
};

void PrintTo(const Case &c, std::ostream *pOut)
{
    *pOut << c.sWhere;
}

struct Result {
    std::string sOut, sErr;
    int iStatus;  // exit status, or 128 + signal
};

std::string ReadFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A token runs to the next blank outside quotes; its quoted parts are
// C strings ("\n", "\r", "\t", "\xHH", "\"", "\\") and "TEXT"*N is TEXT N times.
Line Tokenize(const std::string &sText)
{
    Line tokens;
    for (std::size_t i = 0; (i = sText.find_first_not_of(' ', i)) != std::string::npos;) {
        std::string sToken;
        while (i < sText.size() && sText[i] != ' ') {
            if (sText[i] != '"') {
                sToken += sText[i++];
                continue;
            }
            std::string sPart;
            for (++i; sText.at(i) != '"'; ++i) {
                char c = sText[i];
                if (c == '\\') {
                    c = sText.at(++i);
                    if (c == 'x') {
                        c = static_cast<char>(std::stoi(sText.substr(i + 1, 2), nullptr, 16));
                        i += 2;
                    } else if (c == 'n' || c == 'r' || c == 't') {
                        c = c == 'n' ? '\n' : c == 'r' ? '\r' : '\t';
                    }
                }
                sPart += c;
            }
            std::size_t nRepeat = 1, nDigits = 0;
            if (++i < sText.size() && sText[i] == '*') {
                nRepeat = std::stoul(sText.substr(i + 1), &nDigits);
                i += 1 + nDigits;
            }
            while (nRepeat-- > 0)
                sToken += sPart;
        }
        tokens.push_back(sToken);
    }
    return tokens;
}

std::vector<Case> LoadCases()
{
    const std::string sPlatform = MORVANE_PLATFORM;
    std::vector<Case> cases;
    for (const auto &entry : fs::directory_iterator(MORVANE_CASES)) {
        const fs::path &path = entry.path();
        if (path.extension() != ".cases")
            continue;
        std::ifstream in(path);
        int iLine = 0;
        for (std::string sText; std::getline(in, sText);) {
            std::string sWhere = path.filename().string() + ":" + std::to_string(++iLine);
            Line line = sText[0] == '#' ? Line{} : Tokenize(sText);
            if (line.empty())
                continue;
            if (line[0] == "case") {
                cases.push_back({path.stem().string() + "_" + line.at(1), sWhere, {}});
            } else if (line[0].back() == ':') {  // "posix: ..." or "windows: ..."
                if (line[0] == sPlatform + ":")
                    cases.back().lines.emplace_back(line.begin() + 1, line.end());
            } else if (line[0] == "only" && line.at(1) != sPlatform) {
                cases.back().sName.clear();
            } else if (line[0] != "only") {
                cases.back().lines.push_back(line);
            }
        }
    }
    cases.erase(
        std::remove_if(cases.begin(), cases.end(), [](const Case &c) { return c.sName.empty(); }),
        cases.end());
    return cases;
}

std::string Joined(const Line &line, std::size_t iFirst)
{
    std::string sText;
    for (std::size_t i = iFirst; i < line.size(); ++i)
        sText += line[i];
    return sText;
}

std::string Tally(const Line &line)
{
    const char *nouns[] = {"file", "total line", "error", "warning"};
    const char *tails[] = {" converted", " converted", "", ""};
    std::string sText;
    for (int i = 0; i < 4; ++i)
        sText +=
            line.at(i + 1) + " " + nouns[i] + (line[i + 1] == "1" ? "" : "s") + tails[i] + ".\n";
    return sText;
}

// Runs sCommand with sh in sDirectory; returns what it printed.
std::string Shell(const fs::path &sDirectory, const std::string &sCommand)
{
    std::string sOutput;
    FILE *pPipe = popen(("cd '" + sDirectory.string() + "' && " + sCommand).c_str(), "r");
    for (int c; pPipe != nullptr && (c = std::fgetc(pPipe)) != EOF;)
        sOutput += static_cast<char>(c);
    return pPipe != nullptr && pclose(pPipe) == 0 ? sOutput : sOutput + "<failed>";
}

class EndToEnd : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("morvane-test-" + std::to_string(getpid()));
        work = root / "work";
        fs::remove_all(root);
        fs::create_directories(work);
    }
    void TearDown() override
    {
        umount2(work.c_str(), MNT_DETACH);  // a case may mount a small filesystem there
        fs::remove_all(root);
    }

    void Put(const std::string &sName, const std::string &sContent)
    {
        if (sName.back() == '/')
            fs::create_directory(work / sName);
        else
            std::ofstream(work / sName, std::ios::binary) << sContent;
    }

    Tree Files() const
    {
        Tree files;
        for (const auto &entry : fs::recursive_directory_iterator(work)) {
            const std::string sName = entry.path().lexically_relative(work).string();
            const fs::file_type type = entry.symlink_status().type();
            if (type == fs::file_type::directory)
                files[sName + "/"] = "";
            else
                files[sName] = type == fs::file_type::regular   ? ReadFile(entry.path())
                               : type == fs::file_type::symlink ? "<link>"
                                                                : "<special>";
        }
        return files;
    }

    // Runs morvane with args, under a command (strace, setpriv...) unless
    // under is empty, its standard output a closed pipe if bClosedStdout.
    Result Run(const Line &args, const Line &under = {}, bool bClosedStdout = false) const;
    void Sweep(const Tree &files, const Line &args);
    // strace, quiet about itself, its log in ../trace.
    Line Strace() const { return {"strace", "--quiet=all", "-o", (root / "trace").string()}; }

    fs::path root, work;
};

Result EndToEnd::Run(const Line &args, const Line &under, bool bClosedStdout) const
{
    Line command = under;
    if (*MORVANE_RUNNER != '\0')
        command.push_back(MORVANE_RUNNER);
    command.push_back(MORVANE_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &sArg : command)
        argv.push_back(sArg.data());
    argv.push_back(nullptr);

    int aPipe[2] = {-1, -1};
    if (bClosedStdout && pipe(aPipe) == 0)
        close(aPipe[0]);
    fs::remove(root / "stdout");
    fs::remove(root / "stderr");
    const pid_t pid = fork();
    if (pid == 0) {
        const int iOut =
            bClosedStdout ? aPipe[1] : open((root / "stdout").c_str(), O_WRONLY | O_CREAT, 0644);
        const int iErr = open((root / "stderr").c_str(), O_WRONLY | O_CREAT, 0644);
        if (!under.empty())  // LeakSanitizer cannot run under ptrace
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        setenv("WINEDEBUG", "-all", 0);
        if (dup2(iOut, 1) < 0 || dup2(iErr, 2) < 0 || chdir(work.c_str()) != 0)
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(aPipe[1]);
    int iWait = 0;
    waitpid(pid, &iWait, 0);
    Result result{ReadFile(root / "stdout"), ReadFile(root / "stderr"),
                  WIFEXITED(iWait) ? WEXITSTATUS(iWait) : 128 + WTERMSIG(iWait)};
    if (std::string_view(MORVANE_PLATFORM) == "windows")  // console lines end in CR LF there
        for (std::string *pText : {&result.sOut, &result.sErr})
            *pText = std::regex_replace(*pText, std::regex("\r\n"), "\n");
    return result;
}

// Kills the run at each system call from the rename to the delete of the
// backup; each time, the one file's content must be whole under its name or
// its backup.
void EndToEnd::Sweep(const Tree &files, const Line &args)
{
    Line strace = Strace();
    strace.push_back("-e");
    Line traced = strace;
    traced.push_back("trace=all");
    ASSERT_EQ(Run(args, traced).iStatus, 0);
    std::istringstream trace(ReadFile(root / "trace"));
    std::vector<std::string> calls;  // names of the system calls, in order
    for (std::string sLine; std::getline(trace, sLine);)
        if (sLine.find('(') != std::string::npos && sLine[0] != '+' && sLine[0] != '-')
            calls.push_back(sLine.substr(0, sLine.find('(')));
    const auto first = std::find(calls.begin(), calls.end(), "renameat2");
    const auto last = std::find(first, calls.end(), "unlink");
    ASSERT_NE(last, calls.end());
    const auto &[sName, sOriginal] = *files.begin();
    std::string sConverted = sOriginal;
    std::replace(sConverted.begin(), sConverted.end(), '\n', '\r');
    for (auto call = first; call <= last; ++call) {
        Line killed = strace;
        killed.push_back("inject=" + *call + ":signal=KILL:when=" +
                         std::to_string(std::count(calls.begin(), call + 1, *call)));
        fs::remove_all(work);
        fs::create_directory(work);
        Put(sName, sOriginal);
        EXPECT_EQ(Run(args, killed).iStatus, 128 + SIGKILL) << killed.back();
        Tree after = Files();
        EXPECT_TRUE(after[sName] == sOriginal || after[sName] == sConverted ||
                    after[sName + ".unix"] == sOriginal)
            << killed.back();
    }
}

TEST_P(EndToEnd, Runs)
{
    const Case &c = GetParam();
    SCOPED_TRACE(c.sWhere);
    Line args, under;
    bool bClosedStdout = false;
    std::string sOut, sErr;
    int iStatus = 0;
    Tree files, after;
    bool bAfter = false, bSweep = false;
    std::vector<Line> checks;  // check COMMAND TEXT...: what COMMAND prints afterwards
    for (const Line &line : c.lines) {
        const std::string &sKey = line[0];
        if (sKey == "file") {
            Put(line.at(1), files[line[1]] = Joined(line, 2));
        } else if (sKey == "sh") {
            ASSERT_EQ(Shell(work, Joined(line, 1)), "");
        } else if (sKey == "needs") {
            if (line.at(1) == "root" && geteuid() != 0)
                GTEST_SKIP() << "needs root";
        } else if (sKey == "strace" || sKey == "sweep" || sKey == "under") {
            if (sKey != "under" && std::system("strace -V >/dev/null 2>&1") != 0)
                GTEST_SKIP() << "strace is not installed";
            if (sKey == "strace")
                under = Strace();
            for (std::size_t i = 1; i < line.size(); ++i)  // "@" stands for the work folder
                under.push_back(line[i][0] == '@' ? work.string() + line[i].substr(1) : line[i]);
            bSweep = bSweep || sKey == "sweep";
        } else if (sKey == "closed-stdout") {
            bClosedStdout = true;
        } else if (sKey == "run") {
            args.assign(line.begin() + 1, line.end());
        } else if (sKey == "version") {
            sOut += "morvane Version 1.01 (Quenfield) 13-Mar-98\n";
        } else if (sKey == "out" || sKey == "tally") {
            sOut += sKey == "out" ? Joined(line, 1) : Tally(line);
        } else if (sKey == "err") {
            sErr += Joined(line, 1);
        } else if (sKey == "status") {
            iStatus = std::stoi(line.at(1));
        } else if (sKey == "after") {
            bAfter = true;
            after[line.at(1)] = Joined(line, 2);
        } else if (sKey == "unchanged") {
            bAfter = true;
            after.insert(files.begin(), files.end());
        } else if (sKey == "check") {
            checks.push_back(line);
        } else {
            FAIL() << "unknown keyword " << sKey;
        }
    }
    if (bSweep)
        return Sweep(files, args);
    const Result result = Run(args, under, bClosedStdout);
    EXPECT_EQ(result.sOut, sOut);
    EXPECT_EQ(result.sErr, sErr);
    EXPECT_EQ(result.iStatus, iStatus);
    if (bAfter) {
        EXPECT_EQ(Files(), after);
    }
    for (const Line &line : checks)
        EXPECT_EQ(Shell(work, line.at(1)), Joined(line, 2)) << line[1];
}

INSTANTIATE_TEST_SUITE_P(, EndToEnd, ::testing::ValuesIn(LoadCases()),
                         [](const auto &info) { return info.param.sName; });

}  // namespace
