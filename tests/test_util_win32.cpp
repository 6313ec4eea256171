// The Windows half of the test harness: trees through the wide file calls, the
// program run with CreateProcessW and pipes.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/wide.h"
#include "test_util.h"

namespace {

std::wstring wide(const std::string& text) {
  std::u16string u = utf8_to_utf16(text);
  return std::wstring(u.begin(), u.end());
}

std::string narrow(const std::wstring& text) {
  return utf16_to_utf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

void remove_tree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        remove_tree(path + L"\\" + name);
      } while (FindNextFileW(h, &data));
      FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
  } else {
    DeleteFileW(path.c_str());
  }
}

void make_parents(const std::string& path) {
  for (std::size_t i = 3; i < path.size(); ++i) {
    if (path[i] == '\\') CreateDirectoryW(wide(path.substr(0, i)).c_str(), nullptr);
  }
}

// Quotes one argument the way the C run-time's parser reads it back.
std::wstring quote_argument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
      out += c;
      backslashes = 0;
    } else {
      out.append(backslashes, L'\\');
      out += c;
      backslashes = 0;
    }
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring environment_block(const run_options& options) {
  static const wchar_t* const removed[] = {L"ACCT", L"DELIMETER", L"RESET", L"SILENT", L"TZ"};
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (wchar_t* e = block; *e; e += wcslen(e) + 1) {
    std::wstring entry = e;
    std::wstring name = entry.substr(0, entry.find(L'=', 1));
    bool drop = false;
    for (const wchar_t* r : removed) drop = drop || _wcsicmp(name.c_str(), r) == 0;
    for (const auto& [n, v] : options.env)
      drop = drop || _wcsicmp(name.c_str(), wide(n).c_str()) == 0;
    if (!drop) entries.push_back(entry);
  }
  FreeEnvironmentStringsW(block);
  bool tz_given = false;
  for (const auto& [n, v] : options.env) {
    entries.push_back(wide(n) + L"=" + wide(v));
    tz_given = tz_given || n == "TZ";
  }
  if (!tz_given) entries.push_back(L"TZ=EST5EDT");
  std::wstring out;
  for (const std::wstring& e : entries) {
    out += e;
    out += L'\0';
  }
  out += L'\0';
  return out;
}

void drain(HANDLE pipe, std::string* sink) {
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) sink->append(buffer, got);
}

}  // namespace

temp_tree::temp_tree() {
  wchar_t base[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH, base);
  std::wstring dir(base, n);
  if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
  static int counter = 0;
  for (;;) {
    std::wstring candidate = dir + L"\\mailsift-test-" + std::to_wstring(GetCurrentProcessId()) +
                             L"-" + std::to_wstring(++counter);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      root_ = narrow(candidate);
      break;
    }
  }
}

temp_tree::~temp_tree() { remove_tree(wide(root_)); }

void temp_tree::write(std::string_view relative, std::string_view bytes) const {
  std::string p = path(relative);
  make_parents(p);
  HANDLE h = CreateFileW(wide(p).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (!bytes.empty())
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

void temp_tree::make_dir(std::string_view relative) const { make_parents(path(relative) + "\\"); }

std::string temp_tree::read(std::string_view relative) const {
  HANDLE h =
      CreateFileW(wide(path(relative)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string data;
  drain(h, &data);
  CloseHandle(h);
  return data;
}

bool temp_tree::exists(std::string_view relative) const {
  return GetFileAttributesW(wide(path(relative)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void temp_tree::remove(std::string_view relative) const { remove_tree(wide(path(relative))); }

bool temp_tree::hard_link(std::string_view existing, std::string_view relative) const {
  return CreateHardLinkW(wide(path(relative)).c_str(), wide(path(existing)).c_str(), nullptr) != 0;
}

void temp_tree::set_times(std::string_view relative, int64_t write_seconds,
                          int64_t access_seconds) const {
  auto to_filetime = [](int64_t seconds) {
    uint64_t ticks = static_cast<uint64_t>(seconds + k_seconds_1601_to_1970) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
  };
  HANDLE h = CreateFileW(wide(path(relative)).c_str(), FILE_WRITE_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  FILETIME access = to_filetime(access_seconds);
  FILETIME write = to_filetime(write_seconds);
  SetFileTime(h, nullptr, &access, &write);
  CloseHandle(h);
}

run_result run_mailsift(const std::vector<std::string>& args, const run_options& options) {
  run_result result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write, err_read, err_write;
  CreatePipe(&in_read, &in_write, &inherit, 0);
  CreatePipe(&out_read, &out_write, &inherit, 0);
  CreatePipe(&err_read, &err_write, &inherit, 0);
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

  std::wstring command =
      quote_argument(wide(options.program.empty() ? mailsift_binary() : options.program));
  for (const std::string& a : args) command += L" " + quote_argument(wide(a));
  if (options.no_ini_word) command += L" -.ini";
  std::wstring env = environment_block(options);
  std::wstring cwd = wide(options.cwd);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  // Wine now and then fails to start a process on a loaded machine; a few
  // tries tell that apart from a program that cannot start at all.
  BOOL started = FALSE;
  DWORD start_error = 0;
  for (int attempt = 1; attempt <= 5 && !started; ++attempt) {
    started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                       env.data(), cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
    if (!started) {
      start_error = GetLastError();
      Sleep(static_cast<DWORD>(200 * attempt));
    }
  }
  CloseHandle(in_read);
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (!started) {
    CloseHandle(in_write);
    CloseHandle(out_read);
    CloseHandle(err_read);
    result.err =
        "the test could not start the program: Windows error " + std::to_string(start_error) + "\n";
    return result;
  }
  std::string out, err;
  std::thread out_reader(drain, out_read, &out);
  std::thread err_reader(drain, err_read, &err);
  std::thread writer([&] {
    DWORD written = 0;
    if (!options.input.empty()) {
      WriteFile(in_write, options.input.data(), static_cast<DWORD>(options.input.size()), &written,
                nullptr);
    }
    CloseHandle(in_write);
  });
  DWORD waited =
      WaitForSingleObject(process.hProcess, static_cast<DWORD>(options.timeout_seconds) * 1000);
  if (waited != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 255);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.timed_out = true;
  }
  writer.join();
  out_reader.join();
  err_reader.join();
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(out_read);
  CloseHandle(err_read);
  result.status = static_cast<int>(code);
  result.out = normalise_line_ends(out);
  result.err = normalise_line_ends(err);
  return result;
}

bool can_interrupt_children() { return false; }

std::string why_no_unprivileged_runs() { return ""; }

spawned_program start_mailsift(const std::vector<std::string>&, const run_options&) {
  return spawned_program{};
}

void send_interrupt(const spawned_program&) {}

void send_terminate(const spawned_program&) {}

void send_signal(const spawned_program&, int) {}

run_result wait_without_reading(spawned_program&, int) { return run_result{}; }

spawned_program start_mailsift_on_terminal(const std::vector<std::string>&, const run_options&) {
  return spawned_program{};
}

run_result wait_for(spawned_program&, int) { return run_result{}; }

bool can_use_terminal() { return false; }

run_result run_mailsift_on_terminal(const std::vector<std::string>&, const run_options&) {
  return run_result{};
}
