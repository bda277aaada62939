// Runs the end-to-end cases of tests/cases/*.cases against the built
// morvane, each in a scratch folder of its own; cases/README.md explains
// their format.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
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

struct Options {
    std::vector<std::string> strace;  // run under strace with these arguments
    long lFileSizeLimit = -1;         // RLIMIT_FSIZE, SIGXFSZ ignored
    int iUser = -1;                   // uid and gid to run as
    bool bMerged = false;             // standard error into standard output
    bool bClosedStdout = false;       // standard output a pipe already closed
};

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
    std::vector<fs::path> paths;
    for (const auto &entry : fs::directory_iterator(MORVANE_CASES))
        if (entry.path().extension() == ".cases")
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<Case> cases;
    for (const fs::path &path : paths) {
        std::ifstream in(path);
        int iLine = 0;
        for (std::string sText; std::getline(in, sText);) {
            Line line = Tokenize(sText);
            std::string sWhere = path.filename().string() + ":" + std::to_string(++iLine);
            if (line.empty() || line[0][0] == '#')
                continue;
            if (line[0] == "case")
                cases.push_back({path.stem().string() + "_" + line.at(1), sWhere, {}});
            else if (!cases.empty())
                cases.back().lines.push_back(line);
        }
    }
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

bool HaveStrace()
{
    return std::system("strace -V >/dev/null 2>&1") == 0;
}

class EndToEnd : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override
    {
        char sTemplate[] = "/tmp/morvane-test-XXXXXX";
        ASSERT_NE(mkdtemp(sTemplate), nullptr);
        root = sTemplate;
        work = root / "work";
        fs::create_directory(work);
        // Reachable and writable by a run under another user.
        fs::permissions(root,
                        fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
        fs::permissions(work, fs::perms::all);
    }
    void TearDown() override { fs::remove_all(root); }

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

    // Names of the system calls of the last traced run, in order.
    std::vector<std::string> TracedCalls() const
    {
        std::istringstream in(ReadFile(root / "trace"));
        std::vector<std::string> calls;
        for (std::string sLine; std::getline(in, sLine);)
            if (sLine.find('(') != std::string::npos && sLine[0] != '+' && sLine[0] != '-')
                calls.push_back(sLine.substr(0, sLine.find('(')));
        return calls;
    }

    Result Run(const Line &args, const Options &options) const;
    void Sweep(const Tree &files, const Line &args);

    fs::path root, work;
};

Result EndToEnd::Run(const Line &args, const Options &options) const
{
    Line command;
    if (!options.strace.empty())
        command = {"strace", "-qq", "-o", (root / "trace").string()};
    command.insert(command.end(), options.strace.begin(), options.strace.end());
    command.push_back(MORVANE_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &sArg : command)
        argv.push_back(sArg.data());
    argv.push_back(nullptr);

    int aPipe[2] = {-1, -1};
    if (options.bClosedStdout && pipe(aPipe) == 0)
        close(aPipe[0]);
    fs::remove(root / "stdout");
    fs::remove(root / "stderr");
    const pid_t pid = fork();
    if (pid == 0) {
        const int iOut = options.bClosedStdout
                             ? aPipe[1]
                             : open((root / "stdout").c_str(), O_WRONLY | O_CREAT, 0644);
        const int iErr =
            options.bMerged ? iOut : open((root / "stderr").c_str(), O_WRONLY | O_CREAT, 0644);
        const rlimit limit{static_cast<rlim_t>(options.lFileSizeLimit),
                           static_cast<rlim_t>(options.lFileSizeLimit)};
        if (options.lFileSizeLimit >= 0 &&
            (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0))
            _exit(126);
        if (options.iUser >= 0 && (setgroups(0, nullptr) != 0 || setgid(options.iUser) != 0 ||
                                   setuid(options.iUser) != 0))
            _exit(126);
        if (!options.strace.empty())  // LeakSanitizer cannot run under ptrace
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        if (dup2(iOut, 1) < 0 || dup2(iErr, 2) < 0 || chdir(work.c_str()) != 0)
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(aPipe[1]);
    int iWait = 0;
    waitpid(pid, &iWait, 0);
    Result result{ReadFile(root / "stdout"), "",
                  WIFEXITED(iWait) ? WEXITSTATUS(iWait) : 128 + WTERMSIG(iWait)};
    std::istringstream err(ReadFile(root / "stderr"));
    for (std::string sLine; std::getline(err, sLine);)
        if (sLine.rfind("strace: ", 0) != 0)  // strace's words about itself
            result.sErr += sLine + "\n";
    return result;
}

// Kills the run at each system call from the rename to the delete of the
// backup; each time, the one file's content must be whole under its name or
// its backup.
void EndToEnd::Sweep(const Tree &files, const Line &args)
{
    ASSERT_EQ(Run(args, {{"-e", "trace=all"}}).iStatus, 0);
    const std::vector<std::string> calls = TracedCalls();
    const auto first = std::find(calls.begin(), calls.end(), "renameat2");
    const auto last = std::find(first, calls.end(), "unlink");
    ASSERT_NE(last, calls.end());
    const auto &[sName, sOriginal] = *files.begin();
    std::string sConverted = sOriginal;
    std::replace(sConverted.begin(), sConverted.end(), '\n', '\r');
    for (auto call = first; call <= last; ++call) {
        const std::string sKill = "inject=" + *call + ":signal=KILL:when=" +
                                  std::to_string(std::count(calls.begin(), call + 1, *call));
        fs::remove_all(work);
        fs::create_directory(work);
        Put(sName, sOriginal);
        EXPECT_EQ(Run(args, {{"-e", sKill}}).iStatus, 128 + SIGKILL) << sKill;
        Tree after = Files();
        EXPECT_TRUE(after[sName] == sOriginal || after[sName] == sConverted ||
                    after[sName + ".unix"] == sOriginal)
            << sKill;
    }
}

TEST_P(EndToEnd, Runs)
{
    const Case &c = GetParam();
    SCOPED_TRACE(c.sWhere);
    Options options;
    Line args, calls;
    std::string sOut, sErr;
    int iStatus = 0;
    Tree files, after;
    bool bAfter = false, bSweep = false, bEnding = false;
    std::vector<Line> modes;
    for (const Line &line : c.lines) {
        const std::string &sKey = line[0];
        if (sKey == "file") {
            Put(line.at(1), files[line[1]] = Joined(line, 2));
        } else if (sKey == "files") {  // files N NAME-WITH-%d TEXT...
            for (int i = 0; i < std::stoi(line.at(1)); ++i) {
                std::string sName = line.at(2);
                sName.replace(sName.find("%d"), 2, std::to_string(i));
                Put(sName, files[sName] = Joined(line, 3));
            }
        } else if (sKey == "link") {
            fs::create_symlink(line.at(2), work / line.at(1));
        } else if (sKey == "fifo") {
            ASSERT_EQ(mkfifo((work / line.at(1)).c_str(), 0644), 0);
        } else if (sKey == "own") {  // own PATH MODE UID GID
            ASSERT_EQ(
                chown((work / line.at(1)).c_str(), std::stoi(line.at(3)), std::stoi(line.at(4))),
                0);
            ASSERT_EQ(chmod((work / line[1]).c_str(), std::stoi(line[2], nullptr, 8)), 0);
        } else if (sKey == "needs") {
            if (line.at(1) == "root" && geteuid() != 0)
                GTEST_SKIP() << "needs root";
        } else if (sKey == "strace" || sKey == "sweep") {
            if (!HaveStrace())
                GTEST_SKIP() << "strace is not installed";
            for (std::size_t i = 1; i < line.size(); ++i)  // "@" stands for the work folder
                options.strace.push_back(line[i][0] == '@' ? work.string() + line[i].substr(1)
                                                           : line[i]);
            bSweep = bSweep || sKey == "sweep";
        } else if (sKey == "limit") {
            options.lFileSizeLimit = std::stol(line.at(1));
        } else if (sKey == "user") {
            options.iUser = std::stoi(line.at(1));
        } else if (sKey == "merged" || sKey == "closed-stdout" || sKey == "ending") {
            (sKey == "merged"   ? options.bMerged
             : sKey == "ending" ? bEnding
                                : options.bClosedStdout) = true;
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
        } else if (sKey == "mode" || sKey == "calls") {
            sKey == "mode" ? modes.push_back(line) : calls.assign(line.begin() + 1, line.end());
        } else {
            FAIL() << "unknown keyword " << sKey;
        }
    }
    if (bSweep)
        return Sweep(files, args);
    const Result result = Run(args, options);
    EXPECT_EQ(
        bEnding ? result.sOut.substr(result.sOut.size() - std::min(sOut.size(), result.sOut.size()))
                : result.sOut,
        sOut);
    EXPECT_EQ(result.sErr, sErr);
    EXPECT_EQ(result.iStatus, iStatus);
    if (bAfter) {
        EXPECT_EQ(Files(), after);
    }
    if (!calls.empty()) {
        EXPECT_EQ(TracedCalls(), calls);
    }
    for (const Line &line : modes) {  // mode PATH MODE UID GID
        struct stat info {};
        EXPECT_EQ(stat((work / line.at(1)).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, std::stoul(line.at(2), nullptr, 8)) << line[1];
        EXPECT_EQ(info.st_uid, std::stoul(line.at(3))) << line[1];
        EXPECT_EQ(info.st_gid, std::stoul(line.at(4))) << line[1];
    }
}

INSTANTIATE_TEST_SUITE_P(, EndToEnd, ::testing::ValuesIn(LoadCases()),
                         [](const auto &info) { return info.param.sName; });

}  // namespace
