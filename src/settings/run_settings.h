// The run settings record and the settings globals beside it.
//
// Four sources fill them, each overriding the one before: start-up defaults
// (with RESET and SILENT), the environment (ACCT, DELIMETER), the INI file and
// the command line. After start-up the rest of the program only reads them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"

// Every field is a signed 32-bit integer, 0 when the record is created. Fields
// marked "stored" belong to the option vocabulary of the tool family and are
// accepted and kept, but nothing in this program acts on them.
struct run_settings {
  int32_t access;             // stored
  int32_t ads;                // stored
  int32_t all_times;          // stored
  int32_t all_hash;           // stored
  int32_t append_output;      // open the output file for appending
  int32_t change_attributes;  // apply the attribute masks to each selected file
  int32_t auto_width;         // width from the longest path of the counting pass
  int32_t accounting;         // a run log is wanted
  int32_t comment;            // stored
  int32_t crc;                // stored
  int32_t delimiter_set;      // stored
  int32_t levels;             // stored
  int32_t directory_mode;     // directory handling of the file selection
  int32_t dirsize;            // stored
  int32_t width_letters;      // stored
  int32_t ext;                // stored
  int32_t fdi;                // stored
  int32_t hash;               // stored
  int32_t size_greater;       // select only files of at least g_greater_than_size bytes
  int32_t hashset;            // stored
  int32_t size_less;          // select only files of at most g_less_than_size bytes
  int32_t level_depth;        // depth limit of the walk (--LEV value + 1), 0 = none
  int32_t width;              // path display width
  int32_t military;           // stored
  int32_t name_only;          // stored
  int32_t path_only;          // stored
  int32_t nameafter;          // sets g_nameafter_count to 50 when still -1
  int32_t output_mode;        // 0: listing to standard output; 1: to g_output_name
  int32_t pause;              // stored
  int32_t quote_fields;       // quote the fields of the listing
  int32_t recurse;            // walk into subdirectories
  int32_t reset;              // stored
  int32_t time_letter_given;  // reduces width by 3
  int32_t sha1;               // stored
  int32_t sha2;               // stored
  int32_t sha3;               // stored
  int32_t sha5;               // stored
  int32_t name_form;          // stored
  int32_t ext_mode;           // stored
  int32_t showat;             // stored
  int32_t sort;               // stored
  int32_t stream;             // stored
  int32_t split;              // open "<output name>.log" as run log if none is open
  int32_t reverse;            // stored
  int32_t time_type;          // file time of the age filter in days: 'a', 'c', else written
  int32_t utf;                // the listing is UTF-8: encoded words decoded, other text converted
  int32_t variable_width;     // stored
  int32_t silent;             // no screen summary; no run-log header without output file
  int32_t zulu;               // file times in UTC
  int32_t no_count;           // --IM / IMMEDIATE / NO_COUNT as read: a counting pass first
  int32_t exclude;            // the exclude list is in force
  int32_t source_list;        // list the files named in g_source_list_file
  int32_t create;             // stored
  int32_t age_filter;         // the age filter is on
  int32_t older_than_set;     // g_older_than_time is in force
  int32_t newer_than_set;     // g_newer_than_time is in force
  int32_t notice_shown;       // stored
  int32_t sequence;           // stored
  int32_t scanners;           // files read at once (start-up sets the default)
  int32_t mbox;               // a mailbox file is listed one record per message
  int32_t sent_after_set;     // g_sent_after is in force
  int32_t sent_before_set;    // g_sent_before is in force
  int32_t msgid;              // the Message-ID column
  int32_t sent_utc;           // the Sent (UTC) column
  int32_t json;               // JSON Lines instead of the header line and delimited records
  int32_t pst;                // an Outlook data file is listed one record per message
  int32_t pst_recover;        // with pst: the items libpff recovers are listed too
  int32_t counting_pass;      // count files and bytes first (set by settle_settings)
};

// The most files a run may read at once.
inline constexpr int k_most_scanners = 64;
// How many files are read at once when the settings name no number. Reads in
// flight are what a cold disk or a network share answers fastest; on a warm
// cache a few scanners already keep every core busy (see ARCHITECTURE.md).
inline constexpr int k_default_scanners = 16;

// The record of this run.
extern run_settings* g_settings;

// Which file times the date bounds apply to (letters a, c, w of a date value).
struct age_time_flags {
  bool access = false;
  bool creation = false;
  bool written = false;
  // A date was given without letters, which means w, as the help screen says.
  bool written_by_default = false;
};

// How an age bound was last given: not at all, as a number of days, or as a date.
enum class bound_form : uint8_t { none, days, date };
struct age_bound_forms {
  bound_form older = bound_form::none;
  bound_form newer = bound_form::none;
};

// Field delimiter of the listing.
extern char g_delimiter;
// Output file name, full path; empty when none was named.
extern std::string g_output_name;
// Run-log file name, full path.
extern std::string g_acct_name;
// "<output name>.log", built at the end of the command line when split is set.
extern std::string g_split_log_name;
// Comment text and width (stored).
extern std::string g_comment_text;
extern int g_comment_width;
// Size bounds in bytes (both inclusive).
extern int64_t g_greater_than_size;
extern int64_t g_less_than_size;
// Age bounds in days: at least g_older_than_days old; younger than
// g_newer_than_days only when that bound was given (g_age_bound_forms).
extern int g_older_than_days;
extern int g_newer_than_days;
// Date bounds as file ticks (both exclusive).
extern file_ticks g_older_than_time;
extern file_ticks g_newer_than_time;
extern age_time_flags g_age_times;
extern age_bound_forms g_age_bound_forms;
// Attribute masks applied to each selected file.
extern uint32_t g_attributes_to_set;
extern uint32_t g_attributes_to_clear;
// Stored settings of the tool family.
extern int g_name_width;
extern int g_nameafter_count;
extern int64_t g_begin_offset;
extern int64_t g_end_offset;
extern int g_sequence_start;
extern int g_split_count;
extern std::string g_hashset_name;
extern char g_sort_key;
extern bool g_sort_descending;
// Sent-date bounds, seconds since 1970 UTC: a message is listed when sent at or
// after g_sent_after and before g_sent_before (each while its flag is set).
extern int64_t g_sent_after;
extern int64_t g_sent_before;
// The source list opened by --SOUR=, or null.
extern std::FILE* g_source_list_file;

// Creates the record, every field 0, and resets every settings global to its
// default. Start-up calls it once; tests call it before each parse.
void create_run_settings();
