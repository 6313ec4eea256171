#include "settings/run_settings.h"

// The record itself; g_settings points at it once start-up created it.
static run_settings s_record;

run_settings* g_settings = nullptr;
char g_delimiter = '|';
std::string g_output_name;
std::string g_acct_name;
std::string g_split_log_name;
std::string g_comment_text;
int g_comment_width = 0;
int64_t g_greater_than_size = 0;
int64_t g_less_than_size = 0;
int g_older_than_days = 0;
int g_newer_than_days = 8000;
file_ticks g_older_than_time = 0;
file_ticks g_newer_than_time = 0;
age_time_flags g_age_times;
age_bound_forms g_age_bound_forms;
uint32_t g_attributes_to_set = 0;
uint32_t g_attributes_to_clear = 0;
int g_name_width = 76;
int g_nameafter_count = -1;
int64_t g_begin_offset = 0;
int64_t g_end_offset = 0;
int g_sequence_start = 0;
int g_split_count = 0;
std::string g_hashset_name;
char g_sort_key = 0;
bool g_sort_descending = false;
int64_t g_sent_after = 0;
int64_t g_sent_before = 0;
std::string g_sent_after_named;
std::string g_sent_before_named;
std::FILE* g_source_list_file = nullptr;

void create_run_settings() {
  s_record = run_settings{};
  g_settings = &s_record;
  g_delimiter = '|';
  g_output_name.clear();
  g_acct_name.clear();
  g_split_log_name.clear();
  g_comment_text.clear();
  g_comment_width = 0;
  g_greater_than_size = 0;
  g_less_than_size = 0;
  g_older_than_days = 0;
  g_newer_than_days = 8000;
  g_older_than_time = 0;
  g_newer_than_time = 0;
  g_age_times = age_time_flags{};
  g_age_bound_forms = age_bound_forms{};
  g_attributes_to_set = 0;
  g_attributes_to_clear = 0;
  g_name_width = 76;
  g_nameafter_count = -1;
  g_begin_offset = 0;
  g_end_offset = 0;
  g_sequence_start = 0;
  g_split_count = 0;
  g_hashset_name.clear();
  g_sort_key = 0;
  g_sort_descending = false;
  g_sent_after = 0;
  g_sent_before = 0;
  g_sent_after_named.clear();
  g_sent_before_named.clear();
  g_source_list_file = nullptr;
}
