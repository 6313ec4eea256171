// The POSIX half of the test harness: trees through the file system calls,
// the program run with fork and exec.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "test_util.h"

extern char** environ;

namespace {

void remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);  // a test may have taken the permissions away
    if (DIR* dir = opendir(path.c_str())) {
      while (struct dirent* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        remove_tree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void make_parents(const std::string& path) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
  }
}

std::vector<std::string> pinned_environment(const run_options& options) {
  static const char* const removed[] = {"ACCT", "DELIMETER", "RESET", "SILENT", "TZ"};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool drop = false;
    for (const char* r : removed) drop = drop || name == r;
    for (const auto& [n, v] : options.env) drop = drop || name == n;
    if (!drop) env.push_back(entry);
  }
  bool tz_given = false;
  for (const auto& [n, v] : options.env) {
    env.push_back(n + "=" + v);
    tz_given = tz_given || n == "TZ";
  }
  if (!tz_given) env.push_back("TZ=EST5EDT");
  return env;
}

// The base of every temporary directory the tests make.
std::string temporary_base() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

bool copy_file_bytes(const std::string& from, const std::string& to, mode_t mode) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  bool ok = out >= 0;
  char buffer[65536];
  ssize_t n;
  while (ok && (n = ::read(in, buffer, sizeof buffer)) > 0)
    ok = ::write(out, buffer, static_cast<std::size_t>(n)) == n;
  close(in);
  if (out >= 0) ok = close(out) == 0 && ok;
  return ok && chmod(to.c_str(), mode) == 0;
}

std::string s_reachable_dir;

void remove_reachable_copy() {
  if (!s_reachable_dir.empty()) remove_tree(s_reachable_dir);
}

// A copy of the program that another user can reach: the build folder may lie
// inside a directory that only its owner may enter (a clone under root's home).
// Made once per test process and removed when it exits.
const std::string& reachable_binary() {
  static const std::string path = [] {
    std::string pattern = temporary_base() + "/mailsift-bin-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) return mailsift_binary();
    s_reachable_dir = name.data();
    std::atexit(remove_reachable_copy);
    std::string copy = s_reachable_dir + "/mailsift";
    if (chmod(s_reachable_dir.c_str(), 0755) != 0 ||
        !copy_file_bytes(mailsift_binary(), copy, 0755))
      return mailsift_binary();
    return copy;
  }();
  return path;
}

bool runs_as_another_user(const run_options& options) {
  return options.unprivileged && geteuid() == 0;
}

std::vector<std::string> full_arguments(const std::vector<std::string>& args,
                                        const run_options& options) {
  std::vector<std::string> all;
  if (!options.program.empty())
    all.push_back(options.program);
  else
    all.push_back(runs_as_another_user(options) ? reachable_binary() : mailsift_binary());
  all.insert(all.end(), args.begin(), args.end());
  if (options.no_ini_word) all.push_back("-.ini");
  return all;
}

// The user "nobody"; root would read every file whatever its permissions say.
void drop_privileges() {
  const gid_t nobody_group = 65534;
  const uid_t nobody = 65534;
  if (setgroups(0, nullptr) != 0 || setgid(nobody_group) != 0 || setuid(nobody) != 0) _exit(125);
}

// The argument and environment vectors of the program, as execve takes them.
struct exec_vectors {
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<char*> argv;
  std::vector<char*> envp;

  exec_vectors(const std::vector<std::string>& words, const run_options& options)
      : args(full_arguments(words, options)), env(pinned_environment(options)) {
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
  }
};

struct pipes {
  int in[2];
  int out[2];
  int err[2];
};

// In the child: sets `resource` to `value` (none when negative), or exits with
// `failed_status`.
void limit_or_exit(int resource, int64_t value, int failed_status) {
  if (value < 0) return;
  struct rlimit limit = {static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
  if (setrlimit(resource, &limit) != 0) _exit(failed_status);
}

// In the child, before exec: the working directory and the limits of `options`.
void apply_child_options(const run_options& options) {
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
  limit_or_exit(RLIMIT_FSIZE, options.file_size_limit, 126);
}

pid_t spawn(const std::vector<std::string>& args, const run_options& options, pipes& p) {
  if (pipe(p.in) != 0 || pipe(p.out) != 0 || pipe(p.err) != 0) return -1;
  exec_vectors command(args, options);
  pid_t pid = fork();
  if (pid == 0) {
    apply_child_options(options);
    if (runs_as_another_user(options)) drop_privileges();
    limit_or_exit(RLIMIT_NPROC, options.process_limit, 124);
    limit_or_exit(RLIMIT_NOFILE, options.open_files_limit, 124);
    limit_or_exit(RLIMIT_AS, options.address_space_limit, 124);
    dup2(p.in[0], 0);
    dup2(p.out[1], 1);
    dup2(p.err[1], 2);
    for (int fd : {p.in[0], p.in[1], p.out[0], p.out[1], p.err[0], p.err[1]}) close(fd);
    if (options.stdout_closed) close(1);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    execve(command.argv[0], command.argv.data(), command.envp.data());
    _exit(127);
  }
  close(p.in[0]);
  close(p.out[1]);
  close(p.err[1]);
  return pid;
}

// Feeds `input` and collects both outputs until the program closes them or the
// deadline passes.
bool pump(int in_fd, const std::string& input, int out_fd, int err_fd, std::string& out,
          std::string& err, int timeout_seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  std::size_t written = 0;
  if (in_fd >= 0 && input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  if (in_fd >= 0) fcntl(in_fd, F_SETFL, O_NONBLOCK);
  while (out_fd >= 0 || err_fd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return false;
    struct pollfd fds[3];
    int n = 0;
    int in_at = -1, out_at = -1, err_at = -1;
    if (in_fd >= 0) fds[in_at = n++] = {in_fd, POLLOUT, 0};
    if (out_fd >= 0) fds[out_at = n++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[err_at = n++] = {err_fd, POLLIN, 0};
    int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(left < 1000 ? left : 1000));
    if (ready < 0 && errno != EINTR) return false;
    char buffer[65536];
    if (in_at >= 0 && fds[in_at].revents) {
      ssize_t w = write(in_fd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<std::size_t>(w);
      if (w < 0 && errno != EAGAIN) written = input.size();
      if (written >= input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
    for (auto [at, fd, sink] :
         {std::tuple{out_at, &out_fd, &out}, std::tuple{err_at, &err_fd, &err}}) {
      if (at < 0 || !fds[at].revents) continue;
      ssize_t r = read(*fd, buffer, sizeof buffer);
      if (r > 0) {
        sink->append(buffer, static_cast<std::size_t>(r));
      } else if (r == 0 || errno != EINTR) {
        close(*fd);
        *fd = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  return true;
}

// The status as a shell gives it: 128 plus the signal for a killed process.
int exit_code_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int wait_status(pid_t pid, bool kill_it, long* peak_rss_kb = nullptr) {
  if (kill_it) kill(pid, SIGKILL);
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (peak_rss_kb) *peak_rss_kb = usage.ru_maxrss;
  return exit_code_of(status);
}

}  // namespace

temp_tree::temp_tree() {
  std::string pattern = temporary_base() + "/mailsift-test-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  root_ = name.data();
}

temp_tree::~temp_tree() { remove_tree(root_); }

void temp_tree::write(std::string_view relative, std::string_view bytes) const {
  std::string p = path(relative);
  make_parents(p);
  int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) throw std::runtime_error("cannot write " + p);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

void temp_tree::make_dir(std::string_view relative) const {
  std::string p = path(relative);
  make_parents(p + "/");
}

std::string temp_tree::read(std::string_view relative) const {
  std::string p = path(relative);
  int fd = open(p.c_str(), O_RDONLY);
  if (fd < 0) return std::string();
  std::string data;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    data.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return data;
}

bool temp_tree::exists(std::string_view relative) const {
  struct stat st;
  return lstat(path(relative).c_str(), &st) == 0;
}

void temp_tree::remove(std::string_view relative) const { remove_tree(path(relative)); }

void temp_tree::set_times(std::string_view relative, int64_t write_seconds,
                          int64_t access_seconds) const {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(access_seconds);
  times[0].tv_nsec = 0;
  times[1].tv_sec = static_cast<time_t>(write_seconds);
  times[1].tv_nsec = 0;
  utimensat(AT_FDCWD, path(relative).c_str(), times, 0);
}

bool temp_tree::hard_link(std::string_view existing, std::string_view relative) const {
  return link(path(existing).c_str(), path(relative).c_str()) == 0;
}

run_result run_mailsift(const std::vector<std::string>& args, const run_options& options) {
  run_result result;
  pipes p;
  pid_t pid = spawn(args, options, p);
  if (pid < 0) return result;
  bool finished = pump(p.in[1], options.input, p.out[0], p.err[0], result.out, result.err,
                       options.timeout_seconds);
  result.timed_out = !finished;
  result.status = wait_status(pid, !finished, &result.peak_rss_kb);
  result.out = normalise_line_ends(result.out);
  result.err = normalise_line_ends(result.err);
  return result;
}

bool can_interrupt_children() { return true; }

std::string why_no_unprivileged_runs() {
  if (geteuid() != 0) return "";
  const std::string& binary = reachable_binary();
  pid_t pid = fork();
  if (pid == 0) {
    drop_privileges();
    _exit(access(binary.c_str(), X_OK) == 0 ? 0 : 1);
  }
  if (pid > 0 && wait_status(pid, false) == 0) return "";
  return "the user nobody cannot run " + binary + " (is " + temporary_base() +
         " closed to other users?)";
}

spawned_program start_mailsift(const std::vector<std::string>& args, const run_options& options) {
  spawned_program program;
  pipes p;
  pid_t pid = spawn(args, options, p);
  if (pid < 0) return program;
  close(p.in[1]);
  program.id = pid;
  program.out_fd = p.out[0];
  program.err_fd = p.err[0];
  return program;
}

void send_interrupt(const spawned_program& program) {
  if (program.id > 0) kill(static_cast<pid_t>(program.id), SIGINT);
}

void send_terminate(const spawned_program& program) {
  if (program.id > 0) kill(static_cast<pid_t>(program.id), SIGTERM);
}

void send_signal(const spawned_program& program, int signal_number) {
  if (program.id > 0) kill(static_cast<pid_t>(program.id), signal_number);
}

run_result wait_without_reading(spawned_program& program, int timeout_seconds) {
  run_result result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  pid_t pid = static_cast<pid_t>(program.id);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      result.timed_out = true;
      result.status = wait_status(pid, true);
      break;
    }
    poll(nullptr, 0, 20);  // a short look at the clock, not an ordering
  }
  if (!result.timed_out) result.status = exit_code_of(status);
  for (int fd : {program.out_fd, program.err_fd}) {
    if (fd >= 0) close(fd);
  }
  program.out_fd = program.err_fd = -1;
  return result;
}

run_result wait_for(spawned_program& program, int timeout_seconds) {
  run_result result;
  bool finished = pump(-1, std::string(), program.out_fd, program.err_fd, result.out, result.err,
                       timeout_seconds);
  result.timed_out = !finished;
  result.status = wait_status(static_cast<pid_t>(program.id), !finished, &result.peak_rss_kb);
  result.out = normalise_line_ends(result.out);
  result.err = normalise_line_ends(result.err);
  return result;
}

bool can_use_terminal() { return true; }

namespace {

// Forks the program with its standard streams on the slave side of `master`
// (all three, or output and error only with standard input on the null device).
pid_t spawn_on_terminal(const std::vector<std::string>& args, const run_options& options,
                        int master, bool terminal_input) {
  std::string slave_name = ptsname(master);
  exec_vectors command(args, options);
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int slave = open(slave_name.c_str(), O_RDWR);
    int input = terminal_input ? slave : open("/dev/null", O_RDONLY);
    if (slave < 0 || input < 0) _exit(126);
    apply_child_options(options);
    dup2(input, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    close(master);
    execve(command.argv[0], command.argv.data(), command.envp.data());
    _exit(127);
  }
  return pid;
}

int open_terminal_master() {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master >= 0 && (grantpt(master) != 0 || unlockpt(master) != 0)) {
    close(master);
    return -1;
  }
  return master;
}

}  // namespace

run_result run_mailsift_on_terminal(const std::vector<std::string>& args,
                                    const run_options& options) {
  run_result result;
  int master = open_terminal_master();
  if (master < 0) return result;
  pid_t pid = spawn_on_terminal(args, options, master, false);
  std::string out;
  int ignored = -1;
  std::string none;
  // The terminal reports an error instead of end of file once the program is gone.
  bool finished = pump(-1, std::string(), master, ignored, out, none, options.timeout_seconds);
  result.timed_out = !finished;
  result.status = wait_status(pid, !finished);
  result.out = normalise_line_ends(out);
  return result;
}

spawned_program start_mailsift_on_terminal(const std::vector<std::string>& args,
                                           const run_options& options) {
  spawned_program program;
  int master = open_terminal_master();
  if (master < 0) return program;
  pid_t pid = spawn_on_terminal(args, options, master, true);
  if (pid < 0) {
    close(master);
    return program;
  }
  program.id = pid;
  // wait_for closes the one it reads; the other keeps the terminal for its modes.
  program.out_fd = master;
  program.terminal_fd = dup(master);
  return program;
}
