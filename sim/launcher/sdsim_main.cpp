// SPDX-License-Identifier: MIT
// sdsim: runs a program with virtual SD cards attached.
//
//   sdsim [--card FILE]... [--transcript FILE] [latency options] [fault options]
//         -- COMMAND [ARG]...
//
// The cards are handed to libsdsim.so (preloaded into COMMAND and its
// children) through environment variables; see sim/README.md.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <linux/magic.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void Usage(FILE *out) {
  std::fprintf(
      out,
      "usage: sdsim [--card FILE | --recording FILE]... [--transcript FILE] [latency options] "
      "[fault options] -- "
      "COMMAND "
      "[ARG]...\n"
      "\n"
      "Runs COMMAND with virtual SD cards attached (default card: %s).\n"
      "\n"
      "  --card FILE          attach the card described by FILE (repeatable)\n"
      "  --recording FILE     attach a card that answers from a recording of\n"
      "                       sdsmart --record (repeatable)\n"
      "  --transcript FILE    write every transfer the cards see as JSON lines\n"
      "  --fail N             transfer N fails (ioctl -1, EIO)\n"
      "  --error N            transfer N completes with an error status\n"
      "  --short N            transfer N is cut short\n"
      "  --vanish N           the card is gone from transfer N on\n"
      "  --kill N             the process is killed (SIGKILL) at transfer N\n"
      "  --busy-forever N     from transfer N on the card stays busy\n"
      "  --bad-signature N    the first header served from transfer N on is damaged\n"
      "  --wrong-type N       the first header served from transfer N on has another type\n"
      "  --no-file-answer N   host-file commands from file step N on get no answer\n"
      "  --file-fail N        host-file step N fails with EIO\n"
      "  --error-with-data N  sector transfer N moves its data, then ends with an error status\n"
      "  --file-kill N        the process is killed (SIGKILL) at host-file step N\n"
      "  --fault KIND@N[*T]   any fault by name, T times (0: for ever)\n"
      "  --latency-us N       every transfer takes N microseconds (1000: a USB reader)\n"
      "  --file-latency-us N  every host-file step takes N microseconds\n"
      "  --now SECONDS        the wall clock stands at SECONDS since the epoch\n"
      "  --boot-id ID         the kernel's boot id (another one plays a reboot;\n"
      "                       default 5d5d5d5d-0000-4000-8000-000000000001)\n",
      SDSIM_DEFAULT_CARD);
}

std::string Absolute(const std::string &path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf))
    return buf;
  if (!path.empty() && path[0] == '/')
    return path;
  if (getcwd(buf, sizeof buf))
    return std::string(buf) + "/" + path;
  return path;
}

std::string LibraryPath() {
  if (const char *env = std::getenv("SDSIM_LIB"))
    return env;
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0)
    return "libsdsim.so";
  exe[n] = '\0';
  std::string dir(exe);
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../lib/libsdsim.so";
}

// A path as one shell word.
std::string Quoted(const std::string &s) {
  std::string out = "'";
  for (char c : s)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The libraries a program or library is linked against, as ldd lists them:
// false when ldd cannot tell (not a dynamic executable, not found, ...);
// otherwise `asan` is the AddressSanitizer runtime among them, or "".
bool AsanRuntimeOf(const std::string &path, std::string &asan) {
  asan.clear();
  const std::string command = "ldd " + Quoted(path) + " 2>/dev/null";
  FILE *p = popen(command.c_str(), "r");
  if (!p)
    return false;
  char line[1024];
  bool listed = false;
  while (std::fgets(line, sizeof line, p)) {
    const std::string s = line;
    const std::size_t arrow = s.find("=> ");
    if (arrow == std::string::npos)
      continue;
    listed = true;
    if (s.find("libasan.so") == std::string::npos)
      continue;
    const std::size_t end = s.find(' ', arrow + 3);
    asan = s.substr(arrow + 3, end - arrow - 3);
  }
  const int status = pclose(p);
  return listed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The sanitizer runtime the card library was built against, which must come
// first in LD_PRELOAD when the program itself is not instrumented.
std::string SanitizerRuntime(const std::string &lib) {
  std::string asan;
  AsanRuntimeOf(lib, asan);
  return asan;
}

// The file execvp(3) runs for `name`: searched in PATH unless it holds a
// slash; "" when there is none.
std::string ResolveCommand(const std::string &name) {
  if (name.find('/') != std::string::npos)
    return name;
  const char *env = std::getenv("PATH");
  const std::string path = env ? env : "/bin:/usr/bin";
  std::size_t from = 0;
  while (from <= path.size()) {
    std::size_t colon = path.find(':', from);
    if (colon == std::string::npos)
      colon = path.size();
    const std::string dir = colon == from ? "." : path.substr(from, colon - from);
    const std::string candidate = dir + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    from = colon + 1;
  }
  return "";
}

// ASAN_OPTIONS for the program when the ASan runtime is preloaded into it.
// Leak checks at exit are for instrumented programs: an uninstrumented tool
// (tail, head, sh) would fail on its own exit-time allocations, so for one
// detect_leaks=0 is added even when the caller asked for leak checks (the
// last setting wins). An instrumented program, or one ldd cannot tell about,
// keeps the caller's setting (detect_leaks=0 when the caller set none).
std::string AsanOptions(const std::string &caller, const std::string &program) {
  std::string asan;
  const std::string resolved = ResolveCommand(program);
  const bool uninstrumented = !resolved.empty() && AsanRuntimeOf(resolved, asan) && asan.empty();
  if (!uninstrumented && caller.find("detect_leaks") != std::string::npos)
    return caller;
  return caller + (caller.empty() ? "" : ":") + "detect_leaks=0";
}

// The program the launcher runs; termination requests go to it.
pid_t ChildPid = 0;

// The launcher waits for the program and removes the run folder afterwards.
void Forward(int sig) {
  if (ChildPid > 0)
    kill(ChildPid, sig);
}

// The run folder, made in memory (/dev/shm) when that is a tmpfs this user
// can write, else in /tmp: "" when neither can hold it. Its mount points and
// card images come and go with every run, and on a disk file system mounted
// with `discard` each folder removed waits for the disk to discard its
// block, milliseconds a card that a real card's mount point never costs.
std::string MakeRunFolder() {
  struct statfs fs {};
  const bool shm = statfs("/dev/shm", &fs) == 0 && fs.f_type == TMPFS_MAGIC &&
                   access("/dev/shm", W_OK | X_OK) == 0;
  for (const char *base : {shm ? "/dev/shm" : nullptr, "/tmp"}) {
    if (!base)
      continue;
    std::string folder = std::string(base) + "/sdsim-run-XXXXXX";
    if (mkdtemp(folder.data()))
      return folder;
  }
  return "";
}

// Best effort: whatever cannot be removed is left, the rest goes.
int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
  (void)remove(path);
  return 0;
}

bool IsFaultOption(const std::string &option) {
  static const char *const kNames[] = {
      "--fail",           "--error",        "--short",           "--vanish",
      "--kill",           "--busy-forever", "--bad-signature",   "--wrong-type",
      "--no-file-answer", "--file-fail",    "--error-with-data", "--file-kill"};
  for (const char *name : kNames)
    if (option == name)
      return true;
  return false;
}

// Decimal digits alone, at most `max`. The card library reads its numbers
// with strto*, which would take "12x" for 12, "abc" for 0 and "-1" for the
// largest number: a fault or a clock the user never meant, silently.
bool IsNumber(const std::string &value, unsigned long long max) {
  if (value.empty() || value.size() > 19 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return false;
  return std::stoull(value) <= max;
}

// A fault's N[*T]: the first event index, then how many times.
bool IsFaultCount(const std::string &value) {
  const std::size_t star = value.find('*');
  return IsNumber(value.substr(0, star), ULLONG_MAX) &&
         (star == std::string::npos || IsNumber(value.substr(star + 1), ULLONG_MAX));
}

// --fault KIND[@N[*T]]: the numbers are checked here; the kind by the card
// library, which knows the names (exit 98).
bool IsFaultSpec(const std::string &value) {
  const std::size_t at = value.find('@');
  return at == std::string::npos || IsFaultCount(value.substr(at + 1));
}

struct Options {
  std::vector<std::string> Cards, Faults;
  std::string Transcript;
  std::string TransferLatency, FileLatency; // microseconds; "": the card files' own
  std::string Now;                          // seconds since the epoch; "": the real clock
  // The virtual kernel's boot id, the same for every run unless given, so
  // that what a program reads of it does not depend on the machine.
  std::string BootId = "5d5d5d5d-0000-4000-8000-000000000001";
  char **Command = nullptr;
};

// An option's value that the launcher cannot take: its exit status.
int Refuse(const std::string &option, const std::string &value, const char *wanted) {
  std::fprintf(stderr, "sdsim: %s \"%s\": takes %s\n", option.c_str(), value.c_str(), wanted);
  return 2;
}

// Parses the command line: -1 when the launcher goes on, else its exit status.
int ParseOptions(int argc, char **argv, Options &options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--")
      break;
    if (option == "-h" || option == "--help") {
      Usage(stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "sdsim: %s needs a value\n", option.c_str());
      return 2;
    }
    const std::string value = argv[++i];
    if (option == "--card" || option == "--recording") {
      options.Cards.push_back(Absolute(value));
    } else if (option == "--transcript") {
      options.Transcript = Absolute(value);
    } else if (option == "--fault") {
      if (!IsFaultSpec(value))
        return Refuse(option, value, "KIND@N[*T], N and T in decimal digits");
      options.Faults.push_back(value);
    } else if (option == "--latency-us" || option == "--file-latency-us") {
      if (!IsNumber(value, 1000000))
        return Refuse(option, value, "microseconds, 0 to 1000000");
      (option == "--latency-us" ? options.TransferLatency : options.FileLatency) = value;
    } else if (option == "--now") {
      if (!IsNumber(value, LLONG_MAX))
        return Refuse(option, value, "whole seconds since the epoch, in decimal digits");
      options.Now = value;
    } else if (option == "--boot-id") {
      options.BootId = value;
    } else if (IsFaultOption(option)) {
      if (!IsFaultCount(value))
        return Refuse(option, value, "an index N (or N*T), in decimal digits");
      options.Faults.push_back(option.substr(2) + "@" + value);
    } else {
      std::fprintf(stderr, "sdsim: unknown option %s\n", option.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (i >= argc - 1) {
    Usage(stderr);
    return 2;
  }
  options.Command = argv + i + 1;
  if (options.Cards.empty())
    options.Cards.push_back(SDSIM_DEFAULT_CARD);
  return -1;
}

std::string Joined(const std::vector<std::string> &items, char separator) {
  std::string out;
  for (const auto &item : items)
    out += (out.empty() ? "" : std::string(1, separator)) + item;
  return out;
}

// The transcript file starts empty; false when it cannot be written.
bool TruncateTranscript(const std::string &transcript) {
  if (transcript.empty())
    return true;
  const int fd = open(transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "sdsim: cannot write %s: %s\n", transcript.c_str(), std::strerror(errno));
    return false;
  }
  close(fd);
  return true;
}

// LD_PRELOAD for the program: the card library, behind the sanitizer runtime
// it was built against (with ASAN_OPTIONS set for the program), before
// whatever the caller preloads.
std::string PreloadList(const std::string &lib, const char *program) {
  std::string preload = lib;
  const std::string runtime = SanitizerRuntime(lib);
  if (!runtime.empty()) {
    preload = runtime + " " + preload;
    const char *caller = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", AsanOptions(caller ? caller : "", program).c_str(), 1);
  }
  if (const char *old = std::getenv("LD_PRELOAD"))
    if (*old)
      preload += " " + std::string(old);
  return preload;
}

void SetOrUnset(const char *name, const std::string &value) {
  if (!value.empty())
    setenv(name, value.c_str(), 1);
  else
    unsetenv(name);
}

// In the child: the environment the card library reads, then the program.
[[noreturn]] void RunProgram(const Options &options, const std::string &preload,
                             const char *runDir) {
  setenv("LD_PRELOAD", preload.c_str(), 1);
  setenv("SDSIM_CARDS", Joined(options.Cards, ':').c_str(), 1);
  setenv("SDSIM_RUNDIR", runDir, 1);
  SetOrUnset("SDSIM_FAULTS", Joined(options.Faults, ','));
  SetOrUnset("SDSIM_TRANSCRIPT", options.Transcript);
  SetOrUnset("SDSIM_LATENCY_US", options.TransferLatency);
  SetOrUnset("SDSIM_FILE_LATENCY_US", options.FileLatency);
  SetOrUnset("SDSIM_NOW", options.Now);
  SetOrUnset("SDSIM_BOOT_ID", options.BootId);
  execvp(options.Command[0], options.Command);
  std::fprintf(stderr, "sdsim: cannot run %s: %s\n", options.Command[0], std::strerror(errno));
  _exit(127);
}

// Waits for the program, forwarding termination requests: its exit status,
// 128 + signal when it was killed.
int WaitForProgram(pid_t pid) {
  ChildPid = pid;
  struct sigaction forward {};
  forward.sa_handler = Forward;
  sigemptyset(&forward.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    sigaction(sig, &forward, nullptr);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  const int parsed = ParseOptions(argc, argv, options);
  if (parsed >= 0)
    return parsed;
  const std::string lib = Absolute(LibraryPath());
  if (access(lib.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "sdsim: cannot find %s (set SDSIM_LIB)\n", lib.c_str());
    return 2;
  }
  for (const auto &card : options.Cards) {
    if (access(card.c_str(), R_OK) != 0) {
      std::fprintf(stderr, "sdsim: cannot read card file %s\n", card.c_str());
      return 2;
    }
  }
  const std::string runDir = MakeRunFolder();
  if (runDir.empty()) {
    std::perror("sdsim: mkdtemp");
    return 2;
  }
  if (!TruncateTranscript(options.Transcript))
    return 2;
  const std::string preload = PreloadList(lib, options.Command[0]);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("sdsim: fork");
    return 2;
  }
  if (pid == 0)
    RunProgram(options, preload, runDir.c_str());
  const int status = WaitForProgram(pid);
  nftw(runDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  return status;
}
