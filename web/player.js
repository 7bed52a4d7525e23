// Plays the WAV's samples through the Web Audio API, from any point, and
// tells where it is. The sound goes out a few seconds at a time, so that
// starting an hour of it costs no more than starting a chord. Where the
// audio cannot start (no sound device), the position follows the clock, so
// the picture still plays along.

const pieceSeconds = 4; // sound made into one buffer at a time
const aheadSeconds = 8; // sound kept scheduled ahead of the playhead

export function createPlayer(onEnd) {
  let audio = null; // the AudioContext, made on the first Play (a user's gesture)
  let samples = new Uint8Array(0);
  let format = null; // the WAV's format, from the core, once there are samples
  let sources = []; // pieces scheduled and not yet ended
  let playing = false;
  let span = {first: 0, end: 0, loop: false}; // the samples being played, once or over and over
  let origin = 0; // the sample the play began at
  let startedAt = 0; // audio.currentTime when the play began
  let clockStartedAt = 0; // performance.now() in milliseconds when it began
  let pausedAt = 0; // second
  let nextSample = 0; // where the next piece begins in the sound
  let nextOffset = 0; // and after how many samples of playing
  let feeder = null; // the timer that schedules more pieces
  let ended = null; // the timer that ends a play the audio does not end
  let audition = null; // the source sounding one chord alone, if any

  function duration() {
    return samples.length === 0 ? 0 : samples.length / format.sampleRate;
  }

  // Seconds since the play began, by the audio's clock where it runs.
  function elapsed() {
    return audio.state === "running" ? audio.currentTime - startedAt : (performance.now() - clockStartedAt) / 1000;
  }

  // Returns a source that plays the samples [first, end) to the output.
  function sourceOf(first, end) {
    const buffer = audio.createBuffer(1, end - first, format.sampleRate);
    const channel = buffer.getChannelData(0);
    const silence = format.silence;
    for (let i = first; i < end; ++i) channel[i - first] = (samples[i] - silence) / silence;
    const source = audio.createBufferSource();
    source.buffer = buffer;
    source.connect(audio.destination);
    return source;
  }

  // Schedules the next piece of the span, right after the one before: a
  // loop goes on from the span's first sample with no gap.
  function schedule() {
    const end = Math.min(span.end, nextSample + pieceSeconds * format.sampleRate);
    const source = sourceOf(nextSample, end);
    source.start(Math.max(audio.currentTime, startedAt + nextOffset / format.sampleRate));
    source.onended = () => (sources = sources.filter((other) => other !== source));
    sources.push(source);
    nextOffset += end - nextSample;
    nextSample = end;
    if (nextSample >= span.end && span.loop) nextSample = span.first;
  }

  function feed() {
    while (playing && nextSample < span.end && nextOffset / format.sampleRate < elapsed() + aheadSeconds) {
      schedule();
    }
  }

  function position() {
    if (!playing) return pausedAt;
    const played = Math.floor(elapsed() * format.sampleRate);
    const length = span.end - span.first;
    const at = span.loop ? span.first + ((origin - span.first + played) % length) : origin + played;
    return Math.min(at, span.end) / format.sampleRate;
  }

  function stopAudition() {
    if (audition === null) return;
    audition.onended = null;
    audition.stop();
    audition = null;
  }

  function stop() {
    stopAudition();
    if (!playing) return;
    pausedAt = position();
    playing = false;
    for (const source of sources) {
      source.onended = null;
      source.stop();
    }
    sources = [];
    clearInterval(feeder);
    clearTimeout(ended);
  }

  // A play that ran to its end leaves the playhead where it began: the
  // sound's start, or a chord's.
  function finish() {
    stop();
    pausedAt = span.first / format.sampleRate;
    onEnd();
  }

  function wake() {
    if (audio === null) audio = new AudioContext();
    audio.resume().catch(() => {}); // without a sound device it may never run
  }

  // Plays the samples [first, end) from sample from, once or over and over.
  function start(first, end, from, loop) {
    stop();
    wake();
    span = {first, end, loop};
    origin = from;
    playing = true;
    startedAt = audio.currentTime;
    clockStartedAt = performance.now();
    nextSample = from;
    nextOffset = 0;
    feed();
    feeder = setInterval(feed, 1000);
    if (!loop) ended = setTimeout(finish, ((end - from) / format.sampleRate) * 1000 + 250);
  }

  // Returns the sample of a second, within the sound.
  function sampleAt(second) {
    return Math.max(0, Math.min(samples.length, Math.round(second * format.sampleRate)));
  }

  return {
    load(wavSamples, wavFormat) {
      stop();
      samples = wavSamples;
      format = wavFormat;
      pausedAt = 0;
    },
    canPlay: () => samples.length > 0,
    duration: duration,
    playing: () => playing,
    looping: () => playing && span.loop,
    position: position,
    // Plays the whole sound from the given second (or where it stopped).
    play(from) {
      if (samples.length === 0) return;
      const at = sampleAt(from === undefined ? pausedAt : from);
      start(0, samples.length, at >= samples.length ? 0 : at, false);
    },
    // Plays the seconds [first, end) alone, from the second from (first
    // if not given), once or, with loop, over and over until stopped.
    playSpan(first, end, loop, from = first) {
      const [a, b] = [sampleAt(first), sampleAt(end)];
      if (b <= a) return;
      const at = sampleAt(from);
      start(a, b, at >= a && at < b ? at : a, loop);
    },
    // Sounds the seconds [first, end) once, alone, over whatever played;
    // the playhead stays where it is.
    audition(first, end) {
      const [a, b] = [sampleAt(first), sampleAt(end)];
      if (b <= a) return;
      stop();
      wake();
      audition = sourceOf(a, b);
      audition.onended = () => (audition = null);
      audition.start();
    },
    stop: stop,
    // Moves to a second: playing goes on from there, a stopped player starts there.
    seek(second) {
      if (playing) this.play(second);
      else pausedAt = second;
    },
  };
}
