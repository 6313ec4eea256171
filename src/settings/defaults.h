// The two ends of start-up for the settings: the defaults the readers override,
// and what follows from the settings once every reader has run.
#pragma once

// The start-up defaults that the readers then override: the time letter and
// clock, the display width, the walk's recursion, the scanner count, and RESET
// and SILENT from the environment. Tests call it as start-up does.
void set_default_settings();
// The end of start-up, once every reader has run: what follows from the settings
// as read (the counting pass, the width a time letter takes). Nothing changes the
// settings afterwards.
void settle_settings();
