// Plays the WAV's samples through the Web Audio API, from any point, and
// tells where it is. Where the audio cannot start (no sound device), the
// position follows the clock, so the picture still plays along.
(function () {
  "use strict";
  const page = (window.score2wavPage = window.score2wavPage || {});

  page.createPlayer = function (onEnd) {
    let audio = null; // the AudioContext, made on the first Play (a user's gesture)
    let samples = new Uint8Array(0);
    let format = null; // the WAV's format, from the core, once there are samples
    let buffer = null; // samples as the Web Audio API takes them, made on the first Play
    let source = null;
    let startedAt = 0; // audio.currentTime at second 0 of the sound
    let clockStartedAt = 0; // performance.now() in milliseconds at second 0
    let pausedAt = 0;
    let ended = null; // the timer that ends a play the audio does not end

    function prepare() {
      if (audio === null) audio = new AudioContext();
      if (buffer === null) {
        buffer = audio.createBuffer(1, samples.length, format.sampleRate);
        const channel = buffer.getChannelData(0);
        const silence = format.silence;
        for (let i = 0; i < samples.length; ++i) channel[i] = (samples[i] - silence) / silence;
      }
    }

    function duration() {
      return samples.length === 0 ? 0 : samples.length / format.sampleRate;
    }

    function stop() {
      if (source !== null) {
        pausedAt = position();
        source.onended = null;
        source.stop();
        source = null;
        clearTimeout(ended);
      }
    }

    function position() {
      if (source === null) return pausedAt;
      const second = audio.state === "running" ? audio.currentTime - startedAt
                                               : (performance.now() - clockStartedAt) / 1000;
      return Math.min(second, duration());
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
        buffer = null;
        pausedAt = 0;
      },
      canPlay: () => samples.length > 0,
      duration: duration,
      playing: () => source !== null,
      position: position,
      // Plays from the given second (or where it stopped).
      play(from) {
        if (samples.length === 0) return;
        stop();
        prepare();
        audio.resume().catch(() => {}); // without a sound device it may never run
        const start = from === undefined ? pausedAt : from;
        const at = start >= duration() ? 0 : start;
        source = audio.createBufferSource();
        source.buffer = buffer;
        source.connect(audio.destination);
        source.onended = finish;
        startedAt = audio.currentTime - at;
        clockStartedAt = performance.now() - at * 1000;
        source.start(0, at);
        ended = setTimeout(finish, (duration() - at) * 1000 + 250);
      },
      stop: stop,
      // Moves to a second: playing goes on from there, a stopped player starts there.
      seek(second) {
        if (source !== null) this.play(second);
        else pausedAt = second;
      },
    };
  };
})();
