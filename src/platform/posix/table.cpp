// POSIX backend: the table of the platform layer, filled from the files of
// platform/posix/.
#include "platform/platform.h"
#include "platform/posix/backend.h"

platform_table g_platform = native_platform();

const platform_table& native_platform() {
  using namespace posix_backend;
  static const platform_table table = {
      .find_first = posix_find_first,
      .find_next = posix_find_next,
      .find_close = posix_find_close,
      .lookup_file = posix_lookup_file,
      .directory_identity = posix_directory_identity,
      .get_attributes = posix_get_attributes,
      .set_attributes = posix_set_attributes,
      .current_time = posix_current_time,
      .seconds_to_calendar = posix_seconds_to_calendar,
      .ticks_to_calendar = posix_ticks_to_calendar,
      .local_calendar_to_seconds = posix_local_calendar_to_seconds,
      .time_zone = posix_time_zone,
      .full_path = posix_full_path,
      .current_directory = posix_current_directory,
      .program_path = posix_program_path,
      .is_directory = posix_is_directory,
      .path_exists = posix_path_exists,
      .create_directory = posix_create_directory,
      .computer_name = posix_computer_name,
      .last_access_setting = posix_last_access_setting,
      .open_stream = posix_open_stream,
      .open_for_reading = posix_open_for_reading,
      .read_bytes = posix_read_bytes,
      .close_file = posix_close_file,
      .file_size = posix_file_size,
      .truncate_file = posix_truncate_file,
      .read_at = posix_read_at,
      .get_environment = posix_get_environment,
      .console_start = posix_console_start,
      .console_restore = posix_console_restore,
      .key_waiting = posix_key_waiting,
      .read_key = posix_read_key,
      .stdin_is_terminal = posix_stdin_is_terminal,
      .is_terminal = posix_is_terminal,
      .install_interrupt_handler = posix_install_interrupt_handler,
      .interrupt_requested = posix_interrupt_requested,
      .sleep_milliseconds = posix_sleep_milliseconds,
      .ignore_write_signals = posix_ignore_write_signals,
      .share_one_heap = posix_share_one_heap,
      .open_files_limit = posix_open_files_limit,
      .exit_process = posix_exit_process,
      .ansi_text_to_utf8 = posix_ansi_text_to_utf8,
      .can_read_file = posix_can_read_file,
      .find_first_names = posix_find_first_names,
      .open_and_look_up = posix_open_and_look_up,
      .last_failure = posix_last_failure,
      .prepare_thread_storage = posix_prepare_thread_storage,
      .open_regular_stream = posix_open_regular_stream,
      .open_standard_streams = posix_open_standard_streams,
      .access_times_not_kept = posix_access_times_not_kept,
      .stream_identity = posix_stream_identity,
      .read_handle_identity = posix_read_handle_identity,
      .give_back_pages = posix_give_back_pages,
      .convert_charset = posix_convert_charset,
      .free_charset_converters = posix_free_charset_converters,
  };
  return table;
}
