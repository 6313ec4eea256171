#include "settings/help_screen.h"

#include <cerrno>
#include <cstring>

#include "INCLUDE_U/clock.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "platform/digest.h"
#include "platform/platform.h"
#include "settings/version.h"

namespace {

// The double-line box and the check mark: code-page-437 bytes for the Windows
// console, the same characters in UTF-8 for terminals elsewhere.
struct box_characters {
  const char* top_left;
  const char* horizontal;
  const char* top_right;
  const char* vertical;
  const char* bottom_left;
  const char* bottom_right;
  const char* check_mark;
};
constexpr box_characters k_box =
    k_windows ? box_characters{"\xC9", "\xCD", "\xBB", "\xBA", "\xC8", "\xBC", "\xFB"}
              : box_characters{"\xE2\x95\x94", "\xE2\x95\x90", "\xE2\x95\x97", "\xE2\x95\x91",
                               "\xE2\x95\x9A", "\xE2\x95\x9D", "\xE2\x88\x9A"};

constexpr int k_screen_width = 80;
constexpr int k_banner_inner = 74;
constexpr int k_page_lines = 24;
constexpr int k_page_header_lines = 12;
constexpr int k_page_full = 21;
constexpr const char* k_prompt = "RETURN TO CONTINUE, ^C or x==exit";

// A line of help text. Before it, `checks` times: a page break when the line
// count plus `ahead` reaches 21. After it the count grows by `adds`.
struct help_line {
  int checks;
  int ahead;
  const char* text;
  int adds;
};

constexpr help_line k_help_lines[] = {
    {0, 0, "-p + path(s):  additional paths to search, can include multiple paths separated\n", 1},
    {0, 0, "               by spaces. (i.e.  -p c:\\work  c:\\bin d:\\)     [PATH=pathname]\n", 1},
    {0, 0, "     --path=only_one_path_allowed_here\n", 0},
    {0, 0, "-f + filetype: additional filetypes to search for seperated by spaces. \n", 1},
    {0, 0, "      (i.e. *.c *.bat, default == *.*.)                      [FILES=filetype]\n", 1},
    {0, 0, "-x  + exclude: exclude these file types from the processing  [EXCLUDE=filetype]\n", 1},
    {0, 0, "      --exclude=only_one_filetype_to_exclude\n", 0},
    {0, 0, "-oO + output:  filename for output. Output can be redirected using > output\n", 1},
    {0, 0, "      -O automatically causes -a (append option to be used)  [OUTPUT=filename]\n", 3},
    {1, 6, "-oO + YY[YY][MMDDhhmmss=name]: causes output file to be named with todays date\n", 1},
    {0, 0, "Adding each of the MMDDYYhhmmss as necessary based on the mask used\n", 1},
    {0, 0, "if the =name, where name is a text string is added, then the filename is \n", 1},
    {0, 0, "appended with the name. THE = (equal sign must be there for the literal.)\n", 0},
    {0, 0, "--output=filename\n", 1},
    {1, 6, "-a:   append to output file.                        [APPEND=[ON|OFF]]\n", 2},
    {0, 0, "--append\n", 1},
    {0, 0, "-g #:               Show files greater than # days old              [OLDER=xxx]\n", 1},
    {0, 0, "-g mm-dd-yyyy[acw]: Show files older than this date. (this date NOT counted)\n", 1},
    {0, 0, "\n", 2},
    {1, 7, "-l #:               Show files less than # days old                 [NEWER=xxx]\n", 1},
    {0, 0, "-l mm-dd-yyyy[acw]: Show files newer than this date. (this date IS included)\n", 1},
    {0, 0, "      The  [acw] literals, choose which time to base the mm-dd-yyyy test on\n", 1},
    {0, 0, "      Any or all [acw] can be used. If none used, then default is w\n", 1},
    {0, 0, "      examples:  -l 10-20-2005a, -g 12-05-2005w, -l 12-20-2005a  -g 10-01-2005c\n", 1},
    {0, 0, "      examples:  -l 10-20-2005acw, -g 12-05-2005wc\n", 3},
    {1, 0, "-G #:    Show files greater than # bytes in size            [GREATER=xxx]\n", 1},
    {0, 0, "         --greater=#\n", 1},
    {0, 0, "-L #:    Show files less than # bytes in size               [LESSTHAN=xxx]\n", 1},
    {0, 0, "         --lessthan=#\n", 1},
    {1, 0, "-r:   DO NOT recurse through path, default to recurse       [RECURSE=[ON|OFF]]\n", 0},
    {0, 0, "--recurse,  --recurse=[ON|OFF]\n", 2},
    {3, 0, "-d #: insert delimeters of this (#) value between output fields.\n", 1},
    {0, 0, "      default delimeter is pipe (|)\n", 1},
    {0, 0, "      if delimeter is comma (,) then usual quotes for text strings implemented\n", 1},
    {0, 0, "      --delimeter=\"|\", --delimeter=#, --delimeter=pipe\n", 1},
    {1, 0, "-1 +  filename: to contain logging information.                 [ACCT=filename]\n", 1},
    {0, 0, "      default logging file can also be set in environment by SET ACCT=filename\n", 2},
    {0, 0, "      --accounting=filename, --logfile=filename\n\n", 2},
};

// The option lines of --help on POSIX: the pages' lines speak of drives and of
// SET, and leave out the long options that act, so a POSIX reader gets these.
constexpr const char* k_posix_option_text =
    "Starting paths and files\n"
    "  path ..., -p path ...   directories to walk; the list ends at a word beginning\n"
    "                          with - or + (-p ~/mail /srv/archive)   [PATH=path]\n"
    "                          --PATH=path adds one\n"
    "  -f pattern ...          file patterns, * and ?, any case (default *.*); quote\n"
    "                          them: -f '*.eml' '*.msg'     [FILES=pattern, --FILE=]\n"
    "  -x pattern ...          leave out names that match  [EXCLUDE=pattern, --EXC=]\n"
    "  -r                      do not walk into subdirectories (toggles; +r walks)\n"
    "                          [RECURSE=ON|OFF, --REC[=ON|OFF]]\n"
    "  --LEV=n                 walk n levels deep\n"
    "  --SOUR=list             list the files named in list, one per line, instead\n"
    "                          of walking; a missing file is named on standard error\n"
    "\n"
    "Selection\n"
    "  -g days, -l days        at least / less than days old    [OLDER=, NEWER=]\n"
    "                          (--OLD=, --BEF=, --NEW=, --YOU=)\n"
    "  -g mm-dd-yyyy[acw]      older than this date, the day itself not counted\n"
    "  -l mm-dd-yyyy[acw]      newer than this date, the day itself included\n"
    "                          a accessed, c created, w written: any or all; the\n"
    "                          default is w (-l 10-20-2005, -g 12-05-2005wc)\n"
    "  -G bytes, -L bytes      at least / at most this size   [GREATER=, LESSTHAN=]\n"
    "                          (--GRE=, --BIG=, --LES=, --SMA=)\n"
    "  -t c                    the file time an age in days applies to: a, c or w\n"
    "  -q-R, -q+R              make each selected file writable or read-only: this\n"
    "                          changes the files (and their change time), so it is\n"
    "                          not for evidence\n"
    "\n"
    "Output\n"
    "  -o file, -O file        write the listing to file (-O appends); a name such\n"
    "                          as YYYYMMDD.txt gets the run's date [OUTPUT=, --OUT=]\n"
    "  -a                      append to the output file      [APPEND=ON, --APP]\n"
    "  -d c                    field delimiter, one character or a decimal code\n"
    "                          (default |); a comma quotes every field, as CSV\n"
    "                          [DELIM=c, --DEL=c, --delimeter=pipe]\n"
    "  --QUOTE                 quote every field, with any delimiter (-d ';' --QUOTE)\n"
    "  --MD5, --SHA1, --SHA2   add the file's MD5, SHA-1, SHA-256 columns\n"
    "                          (--HASH, --SHA; INI HASH, SHA, ALL_HT)\n"
    "  --SCANNERS=n            read n files at once, 1 to 64 (default 16)\n"
    "  --IM                    count the files and bytes first (with -o)\n"
    "  --VER=ON                no summary on standard error   [SILENT=ON]\n"
    "\n"
    "Run log\n"
    "  -1 file                 append a block for this run to file; +1 turns it off\n"
    "                          [ACCT=file, --ACC=file, --LOG=file]; in the\n"
    "                          environment: ACCT=~/logs/mail-runs.log\n"
    "\n"
    "Settings come from the environment (ACCT, DELIMETER, RESET, SILENT), then\n"
    "mailsift.ini beside the program or in the current directory (or the [MAILSIFT]\n"
    "section of TOLVERIN.INI), then the command line.\n"
    "\n"
    "Examples\n"
    "  mailsift ~/mail -f '*.eml' -o list.txt\n"
    "  mailsift -p ~/mail -d , -o list.csv -1 ~/logs/mail-runs.log\n"
    "  mailsift -p ~/mail -l 30\n";

// Pages shown so far; the first page break shows no prompt.
int s_page = 0;

void write_newlines(int count, std::FILE* stream) {
  for (int i = 0; i < count; ++i) std::fputc('\n', stream);
}

void append_repeated(std::string& out, const char* piece, int count) {
  for (int i = 0; i < count; ++i) out += piece;
}

// One banner line: a centred text between two vertical bars, 76 characters.
std::string banner_text_line(std::string_view text) {
  int width = text_width(text);
  if (width > k_banner_inner) width = k_banner_inner;
  // The text starts at column 38 minus half its length; column 0 is the bar.
  int before = 38 - width / 2 - 1;
  std::string line = k_box.vertical;
  append_repeated(line, " ", before);
  line += text;
  append_repeated(line, " ", k_banner_inner - before - width);
  line += k_box.vertical;
  return line;
}

void append_centred_line(std::string& out, const std::string& line) {
  int pad = (k_screen_width - text_width(line)) / 2;
  append_repeated(out, " ", pad);
  out += line;
  out += '\n';
}

// Waits for a key at the prompt; x, Ctrl-C, Escape or the end of input end the
// process at once.
void wait_at_prompt() {
  std::fputc('\n', stderr);
  print_centred(k_screen_width, k_prompt, stderr);
  // The prompt must be seen before the wait, also when standard error is buffered.
  std::fflush(stderr);
  int key = g_platform.read_key();
  if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
  if (key == 'X' || key == 3 || key == 27 || key == -1) exit_directly(k_exit_illegal_option);
}

// Ends a page (filling it to 24 lines), asks for a key from the second page on,
// and starts the next page with the banner; returns the new line count.
int page_break(int count) {
  if (count < k_page_lines - 1) write_newlines(k_page_lines - count, stderr);
  if (s_page != 0) wait_at_prompt();
  ++s_page;
  write_newlines(k_page_lines + 2, stderr);
  write_newlines(28, stderr);
  std::string banner = help_banner(version_text(build_date(), build_time()));
  std::fwrite(banner.data(), 1, banner.size(), stderr);
  write_newlines(2, stderr);
  return k_page_header_lines;
}

void write_build_stamps() {
  std::string new_do_eml = std::string(".") + k_path_separator + "new_do_eml.cpp";
  std::fprintf(stderr, "%15s last updated: %s %s\n", "eml_base.cpp", build_date(), build_time());
  std::fprintf(stderr, "%15s last updated: %s %s\n", "eml_program.cpp", build_date(), build_time());
  std::fprintf(stderr, "%15s last updated: %s %s\n\n", new_do_eml.c_str(), build_date(),
               build_time());
}

int month_number(std::string_view name) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i) {
    if (name == months[i]) return i + 1;
  }
  return 0;
}

// Ends a report written to standard output: 0 when it arrived, 9 when it could not
// be written (a full disk); a reader that stopped early is no reason for a message.
[[noreturn]] void end_report_on_stdout() {
  errno = 0;
  bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
  if (failed && errno != EPIPE) std::fputs("\nError writing to standard output\n", stderr);
  exit_directly(failed ? k_exit_write_error : k_exit_normal);
}

}  // namespace

const char* build_date() { return __DATE__; }

const char* build_time() { return __TIME__; }

int text_width(std::string_view text) {
  if (k_windows) return static_cast<int>(text.size());
  int width = 0;
  for (char c : text) {
    if (!is_utf8_continuation(static_cast<unsigned char>(c))) ++width;
  }
  return width;
}

void print_centred(int width, std::string_view text, std::FILE* stream) {
  int pad = (width - text_width(text)) / 2;
  for (int i = 0; i < pad; ++i) std::fputc(' ', stream);
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string version_text(const char* date_text, const char* time_text) {
  std::string_view date(date_text);
  std::string_view time(time_text);
  std::string out;
  // The date reads "Mmm dd yyyy", with a space before a one-digit day.
  if (date.size() >= 11) out += date.substr(9, 2);
  out += '.';
  int month = month_number(date.substr(0, 3));
  if (month > 0) {
    out += static_cast<char>('0' + month / 10);
    out += static_cast<char>('0' + month % 10);
  }
  out += '.';
  if (date.size() >= 6) {
    out += date[4] == ' ' ? '0' : date[4];
    out += date[5];
  }
  out += '.';
  for (char c : time.substr(0, 5)) out += c == ':' ? '.' : c;
  out += k_box.check_mark;
  return out;
}

std::string help_banner(std::string_view version) {
  std::string rule;
  append_repeated(rule, k_box.horizontal, k_banner_inner);
  std::string version_line = "Ver. ";
  version_line += version;
  version_line += " (32 bit unicode) ";
  std::string out;
  append_centred_line(out, k_box.top_left + rule + k_box.top_right);
  append_centred_line(out, banner_text_line("MAILSIFT"));
  append_centred_line(out, banner_text_line(version_line));
  append_centred_line(out, banner_text_line(""));
  append_centred_line(out, k_box.bottom_left + rule + k_box.bottom_right);
  return out;
}

void show_help() {
  g_start_time = current_time();
  s_page = 0;
  int count = page_break(0);
  for (const help_line& line : k_help_lines) {
    for (int i = 0; i < line.checks; ++i) {
      if (count + line.ahead >= k_page_full) count = page_break(count);
    }
    std::fputs(line.text, stderr);
    count += line.adds;
  }
  write_build_stamps();
  std::fflush(stderr);
}

std::string help_option_text() {
  std::string out;
  for (const help_line& line : k_help_lines) out += line.text;
  return out;
}

std::string plain_help_option_text() {
  return k_windows ? help_option_text() : std::string(k_posix_option_text);
}

void show_plain_help() {
  std::string out = "mailsift ";
  out += program_version();
  out += ": lists the header facts of stored e-mail message files\n\n";
  out += "Usage: mailsift [path ...] [options]\n\n";
  out += plain_help_option_text();
  out +=
      "--MBOX: a mailbox file gives one record per message, with the Message and\n"
      "      Offset columns (byte offset of its \"From \" line).       [MBOX=[ON|OFF]]\n"
      "--PST: an Outlook data file (PST, OST) gives one record per message, with the\n"
      "      Message, Offset (item id) and Folder columns.             [PST=[ON|OFF]]\n"
      "--PST-RECOVER: with --PST, deleted items libpff can recover are listed too,\n"
      "      Folder \"(recovered)\".                             [PST_RECOVER=[ON|OFF]]\n"
      "--SENT-AFTER=date, --SENT-BEFORE=date: only messages sent on or after / before\n"
      "      the date (yyyy-mm-dd or mm-dd-yyyy, 00:00 UTC) [SENT_AFTER=, SENT_BEFORE=]\n"
      "--UTF: the listing is UTF-8: encoded words decoded, other text converted from\n"
      "      the message's charset; a new comma file starts with a BOM.     [UTF=ON]\n"
      "--MSGID: a Message-ID column.                                 [MSGID=[ON|OFF]]\n"
      "--SENT-UTC: a Sent (UTC) column, the Date-Time in UTC.     [SENT_UTC=[ON|OFF]]\n"
      "--JSON: JSON Lines, one object per record (UTF-8).            [JSON=[ON|OFF]]\n"
      "--help: this text.  --version: the version.  -?: the help in pages.\n"
      "-.ini: read no INI file.\n"
      "The manual page mailsift(1) lists every option, long option and INI key.\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  end_report_on_stdout();
}

void show_version() {
  std::string out = version_report();
  std::fwrite(out.data(), 1, out.size(), stdout);
  end_report_on_stdout();
}

void show_code_notice() {
  write_text(stdout, digest_code_notice());
  exit_directly(k_exit_illegal_option);
}
