#include "listing/sources/mailbox.h"

#include <gtest/gtest.h>

TEST(mailbox, a_separator_has_a_sender_a_time_and_a_year) {
  struct {
    const char* line;
    bool separator;
  } cases[] = {
      {"From ann@example.org Mon Jan  1 10:00:00 2024", true},
      {"From MAILER-DAEMON Fri Jul  8 12:08:34 2011", true},
      {"From - Sat Jan 01 00:00:00 2000", true},
      {"From ann@example.org Mon Jan 1 9:05 2024", true},
      {"From ann@example.org Mon Jan  1 10:00:00 +0000 2024", true},
      {"From ann@example.org 2024-01-01 10:00", true},
      {"From here on, we meet at 10:30 in 2024", true},  // the rule's known limit
      {"From here on, we meet at ten", false},
      {"From ann@example.org Mon Jan  1 2024", false},      // no time
      {"From ann@example.org Mon Jan  1 10:00:00", false},  // no year
      {"From ann 10:00:00 24", false},
      {"From ann 10:00:00 20245", false},
      {"From  ann Mon Jan  1 10:00:00 2024", false},  // no sender word
      {"From ", false},
      {"From: ann Mon Jan  1 10:00:00 2024", false},
      {">From ann Mon Jan  1 10:00:00 2024", false},
      {"from ann Mon Jan  1 10:00:00 2024", false},
      {"From 10:00:00 2024", false},  // the time is the sender word
  };
  for (const auto& c : cases) EXPECT_EQ(is_separator_line(c.line), c.separator) << c.line;
}
