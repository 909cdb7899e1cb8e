// The writer operations: the one interface from the reader to the listing.
// Every event line starts with the time column; values are passed as read.
#pragma once

#include <cstdint>

#include "score/track.h"

namespace smfasm {

// Time column and note text (the note text lives in one buffer, overwritten
// by every call).
void write_time();
const char* note_text(int note);

// Frame of the listing.
void on_header(int format, int track_count, int division);
void on_track_start();
void on_track_end();

// Channel messages; channel is 0 to 15.
void on_note_on(int channel, int note, int velocity);
void on_note_off(int channel, int note, int velocity);
void on_poly_pressure(int channel, int note, int value);
void on_controller(int channel, int controller, int value);
void on_program(int channel, int program);
void on_channel_pressure(int channel, int value);
void on_pitch_bend(int channel, int low, int high);

// Payloads: quoted text or hex dump, folded at `fold_width`.
void write_quoted(const unsigned char* data, std::int32_t length);
void write_hex(const unsigned char* data, std::int32_t length);
void on_sysex(std::int32_t length, const unsigned char* data);
void on_arbitrary(std::int32_t length, const unsigned char* data);
void on_sequencer_specific(std::int32_t length, const unsigned char* data);
void on_meta_other(int type, std::int32_t length, const unsigned char* data);
void on_meta_text(int type, std::int32_t length, const unsigned char* data);

// The lines of SysEx and Arb packets, whichever form is written.
void write_sysex_line(std::int32_t length, const unsigned char* data);
void write_arbitrary_line(std::int32_t length, const unsigned char* data);

// The score form. Its tracks are held whole and written at their end: the
// reader adds channel events to the held track itself, at its clock, and
// hands meta events over with on_score_meta, SysEx through on_sysex and
// on_arbitrary as ever.
void score_header(int format, int division);
void score_track_start();
void score_track_end();
score::track_record& score_held_track();
void on_score_meta(int type, std::int32_t length, const unsigned char* data);
void score_hold_sysex(bool arbitrary, std::int32_t length, const unsigned char* data);
// The time column of the line being written.
char* format_score_time(char* p);
// A listing stopped by an error: the track held so far is written as far
// as it got, as the tick form would have written it.
void score_listing_cut();

// Meta events with decoded values.
void on_sequence_number(int number);
void on_end_of_track();
void on_tempo(std::int32_t tempo);
void on_smpte(int hours, int minutes, int seconds, int frames, int fraction);
void on_time_signature(int numerator, int exponent, int clocks, int thirty_seconds);
void on_key_signature(int accidentals, int mode);

}  // namespace smfasm
