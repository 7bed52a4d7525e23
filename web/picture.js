// The picture of the sound: a waveform overview above a sonogram, one
// column of each per pixel, with a playhead. Clicking the picture, or the
// arrow keys on it, seek.
(function () {
  "use strict";
  const page = (window.score2wavPage = window.score2wavPage || {});

  const fftSize = 256; // 32 ms of sound a column; 128 bands up to 4000 Hz
  const waveShare = 0.35; // of the height, for the waveform

  // An in-place radix-2 FFT of re and im (length a power of two).
  function fft(re, im) {
    const n = re.length;
    for (let i = 1, j = 0; i < n; ++i) {
      let bit = n >> 1;
      for (; j & bit; bit >>= 1) j ^= bit;
      j ^= bit;
      if (i < j) {
        [re[i], re[j]] = [re[j], re[i]];
        [im[i], im[j]] = [im[j], im[i]];
      }
    }
    for (let size = 2; size <= n; size <<= 1) {
      const step = (-2 * Math.PI) / size;
      for (let start = 0; start < n; start += size) {
        for (let k = 0; k < size / 2; ++k) {
          const c = Math.cos(step * k);
          const s = Math.sin(step * k);
          const a = start + k;
          const b = a + size / 2;
          const tr = re[b] * c - im[b] * s;
          const ti = re[b] * s + im[b] * c;
          re[b] = re[a] - tr;
          im[b] = im[a] - ti;
          re[a] += tr;
          im[a] += ti;
        }
      }
    }
  }

  // The colour of a level from 0 to 1: black through purple and orange to yellow.
  function colour(level) {
    const v = Math.max(0, Math.min(1, level));
    return [Math.round(255 * Math.min(1, v * 1.6)), Math.round(255 * v * v), Math.round(255 * Math.sin(v * Math.PI) * 0.8)];
  }

  // Draws the waveform's top rows: the range of each column's samples.
  function drawWave(image, samples, width, height) {
    const perColumn = samples.length / width;
    for (let x = 0; x < width; ++x) {
      let low = 255;
      let high = 0;
      const end = Math.min(samples.length, Math.floor((x + 1) * perColumn) + 1);
      for (let i = Math.floor(x * perColumn); i < end; ++i) {
        low = Math.min(low, samples[i]);
        high = Math.max(high, samples[i]);
      }
      if (low > high) continue;
      const top = Math.floor(((255 - high) / 255) * (height - 1));
      const bottom = Math.ceil(((255 - low) / 255) * (height - 1));
      for (let y = top; y <= bottom; ++y) image.data.set([120, 200, 255, 255], (y * image.width + x) * 4);
    }
  }

  // Draws the sonogram below the waveform: one FFT around each column's middle.
  function drawSonogram(image, samples, silence, top, width, height) {
    const re = new Float64Array(fftSize);
    const im = new Float64Array(fftSize);
    const bands = fftSize / 2;
    for (let x = 0; x < width; ++x) {
      const middle = Math.floor(((x + 0.5) * samples.length) / width);
      for (let i = 0; i < fftSize; ++i) {
        const sample = samples[middle - fftSize / 2 + i];
        const taper = 0.5 - 0.5 * Math.cos((2 * Math.PI * i) / (fftSize - 1)); // Hann
        re[i] = sample === undefined ? 0 : ((sample - silence) / silence) * taper;
        im[i] = 0;
      }
      fft(re, im);
      for (let y = 0; y < height; ++y) {
        const band = Math.floor(((height - 1 - y) / height) * bands);
        const magnitude = Math.hypot(re[band], im[band]) / (fftSize / 4);
        const level = 1 + Math.log10(magnitude + 1e-6) / 3; // 60 dB of range
        image.data.set(colour(level).concat(255), ((top + y) * image.width + x) * 4);
      }
    }
  }

  page.createPicture = function (canvas, onSeek) {
    const context = canvas.getContext("2d");
    let samples = new Uint8Array(0);
    let format = null; // the WAV's format, from the core, once there are samples
    let base = null; // the drawn picture, without the playhead
    let seconds = 0;

    function duration() {
      return samples.length === 0 ? 0 : samples.length / format.sampleRate;
    }

    function draw() {
      const width = Math.max(1, Math.round(canvas.clientWidth * (window.devicePixelRatio || 1)));
      const height = Math.max(1, Math.round(canvas.clientHeight * (window.devicePixelRatio || 1)));
      canvas.width = width;
      canvas.height = height;
      base = context.createImageData(width, height);
      for (let i = 3; i < base.data.length; i += 4) base.data[i] = 255;
      if (samples.length > 0) {
        const waveHeight = Math.round(height * waveShare);
        drawWave(base, samples, width, waveHeight);
        drawSonogram(base, samples, format.silence, waveHeight, width, height - waveHeight);
      }
      showPlayhead(seconds);
    }

    function showPlayhead(at) {
      seconds = Math.max(0, Math.min(at, duration()));
      if (base === null) return;
      context.putImageData(base, 0, 0);
      if (samples.length > 0) {
        const x = Math.round((seconds / duration()) * (canvas.width - 1));
        context.fillStyle = "#ffffff";
        context.fillRect(x - 1, 0, 3, canvas.height);
      }
      canvas.setAttribute("aria-valuenow", seconds.toFixed(1));
      canvas.setAttribute("aria-valuetext", seconds.toFixed(1) + " seconds");
    }

    canvas.addEventListener("click", (event) => {
      if (samples.length === 0) return;
      const box = canvas.getBoundingClientRect();
      onSeek(((event.clientX - box.left) / box.width) * duration());
    });
    canvas.addEventListener("keydown", (event) => {
      const moves = {ArrowLeft: -1, ArrowRight: 1, PageDown: -10, PageUp: 10, Home: -Infinity, End: Infinity};
      if (!(event.key in moves) || samples.length === 0) return;
      event.preventDefault();
      onSeek(Math.max(0, Math.min(duration(), seconds + moves[event.key])));
    });
    window.addEventListener("resize", () => samples.length > 0 && draw());

    return {
      // Shows a WAV's samples (8-bit unsigned) in its format.
      show(wavSamples, wavFormat) {
        samples = wavSamples;
        format = wavFormat;
        seconds = 0;
        canvas.setAttribute("aria-valuemax", duration().toFixed(1));
        draw();
      },
      showPlayhead: showPlayhead,
    };
  };
})();
