// The hash columns of the listing: which digests a run asks for, and each file's
// digests, fed with the bytes as stored by the line reader's chunks, so a file
// is read once whether hashed or not.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/text.h"
#include "platform/digest.h"

// Lower-case hex of the largest digest, SHA-256.
using digest_text = bounded_text<64>;

// One file's digests, in column order (MD5, SHA-1, SHA-256); only the first
// `count` entries are in use.
struct file_hashes {
  std::size_t count = 0;
  std::array<digest_kind, k_digest_kinds> kinds{};
  std::array<digest_state*, k_digest_kinds> states{};
  std::array<digest_text, k_digest_kinds> texts{};
  // The library failed on that digest for this file: it is not shown.
  std::array<bool, k_digest_kinds> failed{};
};

// Chooses the columns from the settings `hash`, `sha1` and `sha2` (none when
// none is set).
void choose_hash_columns(file_hashes& hashes, bool md5, bool sha1, bool sha256);
// The header line's name of a column: "MD5", "SHA-1" or "SHA-256".
std::string_view hash_column_name(digest_kind kind);
// Starts the chosen digests for a new file and clears the last file's texts. A
// digest the system lacks is named once a run, through `messages` (null as for
// write_message).
void start_file_hashes(file_hashes& hashes, held_messages* messages);
// Adds bytes of the file, in file order.
void add_to_file_hashes(file_hashes& hashes, const char* bytes, std::size_t size);
// Gives back the digest states of every column, as a scan that ends does.
void free_file_hashes(file_hashes& hashes);
// Finishes the digests into their hex texts when the file was read to its end;
// otherwise, or when the library failed, the texts stay empty: the digest of
// the part that was read would name a file that does not exist.
void finish_file_hashes(file_hashes& hashes, bool read_to_end);
