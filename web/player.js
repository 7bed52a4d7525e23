// Plays the WAV's samples through the Web Audio API, from any point, and
// tells where it is. The sound goes out a few seconds at a time, so that
// starting an hour of it costs no more than starting a chord. Where the
// audio cannot start (no sound device), the position follows the clock, so
// the picture still plays along.
(function () {
  "use strict";
  const page = (window.score2wavPage = window.score2wavPage || {});

  const pieceSeconds = 4; // sound made into one buffer at a time
  const aheadSeconds = 8; // sound kept scheduled ahead of the playhead

  page.createPlayer = function (onEnd) {
    let audio = null; // the AudioContext, made on the first Play (a user's gesture)
    let samples = new Uint8Array(0);
    let format = null; // the WAV's format, from the core, once there are samples
    let sources = []; // pieces scheduled and not yet ended
    let playing = false;
    let startedAt = 0; // audio.currentTime at second 0 of the sound
    let clockStartedAt = 0; // performance.now() in milliseconds at second 0
    let pausedAt = 0;
    let scheduledUntil = 0; // second of the sound up to which pieces are scheduled
    let feeder = null; // the timer that schedules more pieces
    let ended = null; // the timer that ends a play the audio does not end

    function duration() {
      return samples.length === 0 ? 0 : samples.length / format.sampleRate;
    }

    // Schedules the piece of the sound from second from.
    function schedule(from) {
      const first = Math.floor(from * format.sampleRate);
      const end = Math.min(samples.length, first + pieceSeconds * format.sampleRate);
      if (end <= first) return;
      const buffer = audio.createBuffer(1, end - first, format.sampleRate);
      const channel = buffer.getChannelData(0);
      const silence = format.silence;
      for (let i = first; i < end; ++i) channel[i - first] = (samples[i] - silence) / silence;
      const source = audio.createBufferSource();
      source.buffer = buffer;
      source.connect(audio.destination);
      source.start(Math.max(audio.currentTime, startedAt + from));
      source.onended = () => (sources = sources.filter((other) => other !== source));
      sources.push(source);
      scheduledUntil = end / format.sampleRate;
    }

    function feed() {
      while (playing && scheduledUntil < Math.min(duration(), position() + aheadSeconds)) {
        schedule(scheduledUntil);
      }
    }

    function position() {
      if (!playing) return pausedAt;
      const second = audio.state === "running" ? audio.currentTime - startedAt
                                               : (performance.now() - clockStartedAt) / 1000;
      return Math.min(second, duration());
    }

    function stop() {
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

    function finish() {
      stop();
      pausedAt = 0;
      onEnd();
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
      position: position,
      // Plays from the given second (or where it stopped).
      play(from) {
        if (samples.length === 0) return;
        stop();
        if (audio === null) audio = new AudioContext();
        audio.resume().catch(() => {}); // without a sound device it may never run
        const start = from === undefined ? pausedAt : from;
        const at = start >= duration() ? 0 : start;
        playing = true;
        startedAt = audio.currentTime - at;
        clockStartedAt = performance.now() - at * 1000;
        scheduledUntil = at;
        feed();
        feeder = setInterval(feed, 1000);
        ended = setTimeout(finish, (duration() - at) * 1000 + 250);
      },
      stop: stop,
      // Moves to a second: playing goes on from there, a stopped player starts there.
      seek(second) {
        if (playing) this.play(second);
        else pausedAt = second;
      },
    };
  };
})();
