// A small synthesizer on WebAudio, so that a musician hears an edit: one
// oscillator voice per note, shaped by the General MIDI family of its
// program, and filtered noise for channel 10. Nothing is loaded: every sound
// is made here. The same scheduling serves live playing and OfflineAudioContext
// rendering.
import { tempoMap } from "./song_time.js";
import { countWhile } from "./sorted.js";

// By the first program of each family of eight: waveform, attack, decay
// (time constant towards the sustain level), sustain level, release, and
// the low-pass filter's cutoff as a multiple of the note's frequency.
const families = [
  ["triangle", 0.004, 0.5, 0.25, 0.15, 8], // piano
  ["sine", 0.002, 0.3, 0.1, 0.2, 8], // chromatic percussion
  ["square", 0.01, 1, 0.8, 0.08, 4], // organ
  ["triangle", 0.003, 0.35, 0.15, 0.12, 6], // guitar
  ["sawtooth", 0.005, 0.4, 0.6, 0.08, 3], // bass
  ["sawtooth", 0.06, 1, 0.8, 0.25, 4], // strings
  ["sawtooth", 0.08, 1, 0.8, 0.3, 3], // ensemble
  ["sawtooth", 0.02, 1, 0.8, 0.1, 5], // brass
  ["square", 0.02, 1, 0.8, 0.1, 4], // reed
  ["sine", 0.03, 1, 0.85, 0.12, 8], // pipe
  ["sawtooth", 0.01, 1, 0.8, 0.1, 6], // synth lead
  ["triangle", 0.15, 1, 0.8, 0.4, 4], // synth pad
  ["sawtooth", 0.05, 1, 0.7, 0.3, 4], // synth effects
  ["triangle", 0.004, 0.4, 0.3, 0.15, 6], // ethnic
  ["sine", 0.002, 0.15, 0.05, 0.1, 8], // percussive
  ["sine", 0.05, 1, 0.5, 0.3, 4], // sound effects
];

// So many notes at once come out as noise anyway; the rest are left out.
const MAX_NOTES_PER_SLICE = 32;

function noiseBuffer(ctx) {
  if (ctx.noise) return ctx.noise;
  const buffer = ctx.createBuffer(1, ctx.sampleRate, ctx.sampleRate);
  const samples = buffer.getChannelData(0);
  let seed = 22222;
  for (let i = 0; i < samples.length; i++) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    samples[i] = seed / 2147483648 - 1;
  }
  ctx.noise = buffer;
  return buffer;
}

function drum(ctx, out, pitch, level, when) {
  const source = ctx.createBufferSource();
  source.buffer = noiseBuffer(ctx);
  const filter = ctx.createBiquadFilter();
  filter.type = "bandpass";
  filter.frequency.value = 60 * 2 ** ((pitch - 30) / 8);
  filter.Q.value = 1.5;
  const gain = ctx.createGain();
  const length = pitch < 40 ? 0.25 : 0.12;
  gain.gain.setValueAtTime(level * 2, when);
  gain.gain.exponentialRampToValueAtTime(0.001, when + length);
  source.connect(filter).connect(gain).connect(out);
  source.start(when, (pitch * 0.01) % 0.5, length);
}

function tone(ctx, out, pitch, program, level, when, duration) {
  const [wave, attack, decay, sustain, release, cutoff] = families[program >> 3];
  const frequency = 440 * 2 ** ((pitch - 69) / 12);
  const oscillator = ctx.createOscillator();
  oscillator.type = wave;
  oscillator.frequency.value = frequency;
  const filter = ctx.createBiquadFilter();
  filter.type = "lowpass";
  filter.frequency.value = Math.min(frequency * cutoff, ctx.sampleRate / 2 - 100);
  const gain = ctx.createGain();
  const off = when + Math.max(duration, attack);
  gain.gain.setValueAtTime(0, when);
  gain.gain.linearRampToValueAtTime(level, when + attack);
  gain.gain.setTargetAtTime(level * sustain, when + attack, decay / 3);
  gain.gain.cancelScheduledValues(off);
  gain.gain.setTargetAtTime(0, off, release / 3);
  oscillator.connect(filter).connect(gain).connect(out);
  oscillator.start(when);
  oscillator.stop(off + release * 2);
}

// Schedules the notes from index on that start before untilSeconds of the
// song; the song's second `fromSeconds` sounds at the context's `at`.
// Returns the index of the first note left for later.
function scheduleNotes(ctx, out, song, map, index, untilSeconds, fromSeconds, at) {
  const n = song.notes;
  let scheduled = 0;
  for (; index < n.count; index++) {
    const start = map.toSeconds(n.start[index]);
    if (start >= untilSeconds) break;
    if (scheduled++ >= MAX_NOTES_PER_SLICE) continue;
    const when = at + start - fromSeconds;
    const level = 0.2 * (n.velocity[index] / 127) ** 1.5;
    if (n.channel[index] === 9) drum(ctx, out, n.pitch[index], level, when);
    else tone(ctx, out, n.pitch[index], n.program[index], level, when, map.toSeconds(n.end[index]) - start);
  }
  return index;
}

function masterChain(ctx) {
  const master = ctx.createGain();
  const limiter = ctx.createDynamicsCompressor();
  master.connect(limiter).connect(ctx.destination);
  return master;
}

// Plays a song live, a little ahead of the clock, and reports the position.
export class Player {
  constructor({ onPosition, onEnd }) {
    this.onPosition = onPosition;
    this.onEnd = onEnd;
    this.ctx = null;
    this.playing = null;
    // Counts play and stop requests: a Stop (or another Play) while the
    // context is still starting must cancel the Play that is waiting for it.
    this.requests = 0;
  }

  // Plays from fromTick until untilTick (the song's end by default).
  async play(song, fromTick, untilTick = song.endTick) {
    this.stop();
    const request = this.requests;
    this.ctx ??= new AudioContext();
    await this.ctx.resume();
    if (request !== this.requests) return;
    const map = tempoMap(song);
    const fromSeconds = map.toSeconds(fromTick);
    const untilSeconds = map.toSeconds(untilTick);
    const endSeconds = untilSeconds + 0.5;
    const index = countWhile(song.notes.count, (i) => song.notes.start[i] < fromTick);
    const playing = { master: masterChain(this.ctx), at: this.ctx.currentTime + 0.05, index };
    this.playing = playing;
    const now = () => fromSeconds + this.ctx.currentTime - playing.at;
    const step = () => {
      const until = Math.min(now() + 0.3, untilSeconds);
      playing.index = scheduleNotes(this.ctx, playing.master, song, map, playing.index, until, fromSeconds, playing.at);
      if (now() > endSeconds) this.stop(true);
    };
    const frame = () => {
      if (this.playing !== playing) return;
      this.onPosition(map.toTick(Math.max(now(), fromSeconds)));
      requestAnimationFrame(frame);
    };
    step();
    playing.timer = setInterval(step, 50);
    requestAnimationFrame(frame);
  }

  stop(ended = false) {
    this.requests += 1;
    const playing = this.playing;
    if (!playing) return;
    this.playing = null;
    clearInterval(playing.timer);
    const fade = this.ctx.currentTime;
    playing.master.gain.setTargetAtTime(0, fade, 0.01);
    setTimeout(() => playing.master.disconnect(), 200);
    this.onPosition(null);
    if (ended) this.onEnd();
  }
}

// Renders the first seconds of a song offline; returns the peak and the RMS
// level of the result (a check that the synthesizer sounds).
export async function renderOffline(song, seconds) {
  const rate = 22050;
  const ctx = new OfflineAudioContext(1, Math.ceil(rate * seconds), rate);
  const map = tempoMap(song);
  const out = masterChain(ctx);
  let index = 0;
  // Slice by slice, as the live player does, so the same notes are left out.
  for (let t = 0.3; index < song.notes.count && t < seconds + 0.3; t += 0.05) {
    index = scheduleNotes(ctx, out, song, map, index, t, 0, 0);
  }
  const samples = (await ctx.startRendering()).getChannelData(0);
  let peak = 0;
  let sum = 0;
  for (const s of samples) {
    peak = Math.max(peak, Math.abs(s));
    sum += s * s;
  }
  return { peak, rms: Math.sqrt(sum / samples.length) };
}
