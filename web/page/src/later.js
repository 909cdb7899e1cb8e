// The parts of the page that it can be ready without, loaded just after it
// is: the piano roll and its input, the synthesizer, the problem panel, the
// reading of a song and the editing commands. Left out of the page's first
// script, they leave it less to load and run before the editor takes
// input. Nothing calls on them before a file is open, and a file opened
// before they are in waits for them (main.js).
export { PianoRoll } from "./piano_roll.js";
export { attachRollInput } from "./roll_input.js";
export { Player, renderOffline } from "./synth.js";
export { SongView, keyNumber } from "./song_view.js";
export { arrangeSong } from "./performance.js";
export { ProblemPanel, pageMessages } from "./problems.js";
export { COMMANDS, fillHelp, planEdit, playSpan, withoutMarks } from "./commands.js";
