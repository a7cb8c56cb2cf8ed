// The diagnostic log "quorlim.log": one record per failure of the start-up
// hardening, appended to a byte file in the temporary folder (TMPDIR when it
// is set and not empty). Nothing else writes it and nothing reads it back.
// What decides, free of Win32 and tested natively: support/log_logic.h.
#ifndef SUPPORT_LOG_H
#define SUPPORT_LOG_H

// Appends LF, the local time text, ":: " and `message` (NUL-terminated, at
// most 1023 characters) to the log. Never fails its caller: when the file
// cannot be opened, or its path cannot be had within the path buffer, the
// record is dropped without a word.
void LogMessage(const char *message);

#endif
