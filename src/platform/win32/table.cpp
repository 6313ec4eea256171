// Win32 backend: the table of the platform layer, filled from the files of
// platform/win32/.
#include "platform/platform.h"
#include "platform/win32/backend.h"

platform_table g_platform = native_platform();

const platform_table& native_platform() {
  using namespace win32_backend;
  static const platform_table table = {
      .find_first = win_find_first,
      .find_next = win_find_next,
      .find_close = win_find_close,
      .lookup_file = win_lookup_file,
      .directory_identity = win_directory_identity,
      .get_attributes = win_get_attributes,
      .set_attributes = win_set_attributes,
      .current_time = win_current_time,
      .seconds_to_calendar = win_seconds_to_calendar,
      .ticks_to_calendar = win_ticks_to_calendar,
      .local_calendar_to_seconds = win_local_calendar_to_seconds,
      .time_zone = win_time_zone,
      .full_path = win_full_path,
      .current_directory = win_current_directory,
      .program_path = win_program_path,
      .is_directory = win_is_directory,
      .path_exists = win_path_exists,
      .create_directory = win_create_directory,
      .computer_name = win_computer_name,
      .last_access_setting = win_last_access_setting,
      .open_stream = win_open_stream,
      .open_for_reading = win_open_for_reading,
      .read_bytes = win_read_bytes,
      .close_file = win_close_file,
      .file_size = win_file_size,
      .truncate_file = win_truncate_file,
      .read_at = win_read_at,
      .get_environment = win_get_environment,
      .console_start = win_console_start,
      .console_restore = win_console_restore,
      .key_waiting = win_key_waiting,
      .read_key = win_read_key,
      .stdin_is_terminal = win_stdin_is_terminal,
      .is_terminal = win_is_terminal,
      .install_interrupt_handler = win_install_interrupt_handler,
      .interrupt_requested = win_interrupt_requested,
      .sleep_milliseconds = win_sleep_milliseconds,
      .ignore_write_signals = win_ignore_write_signals,
      .share_one_heap = win_share_one_heap,
      .open_files_limit = win_open_files_limit,
      .exit_process = win_exit_process,
      .ansi_text_to_utf8 = win_ansi_text_to_utf8,
      .can_read_file = win_can_read_file,
      .find_first_names = win_find_first,  // the system's search gives every fact at no extra cost
      .open_and_look_up = win_open_and_look_up,
      .last_failure = win_last_failure,
      .prepare_thread_storage = win_prepare_thread_storage,
      .open_regular_stream = win_open_regular_stream,
      .open_standard_streams = win_open_standard_streams,
      .access_times_not_kept = win_access_times_not_kept,
      .stream_identity = win_stream_identity,
      .read_handle_identity = win_read_handle_identity,
      .give_back_pages = win_give_back_pages,
      .convert_charset = win_convert_charset,
      .free_charset_converters = win_free_charset_converters,
  };
  return table;
}
