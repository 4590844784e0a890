'use strict';
// The audio encoder, shared by both streams.
(() => {
  const form = new EncForms.SettingsForm({
    form: Enc.$('#audio-form'),
    doc: 'audio',
    fields: [
      // The device calls the switch "checkRate": non-zero turns the audio off.
      { key: 'checkRate', label: 'Audio on', kind: 'check', invert: true },
      { key: 'inputMode', label: 'Source', kind: 'select', numeric: true,
        options: [[0, 'Embedded in the video input'], [1, 'Line input']] },
      { key: 'codec', label: 'Codec', kind: 'select', options: [['AAC', 'AAC'], ['G.711', 'G.711']] },
      { key: 'sampleRate', label: 'Bit rate', kind: 'select', numeric: true,
        options: [32000, 48000, 64000, 96000, 128000, 192000].map((v) => [v, `${v / 1000} kbit/s`]),
        hint: 'Used by AAC.' },
      { key: 'resample', label: 'Sample rate', kind: 'select', numeric: true,
        options: [8000, 16000, 32000, 44100, 48000].map((v) => [v, `${v / 1000} kHz`]),
        hint: 'G.711 uses 8 kHz.' },
      { key: 'gain', label: 'Gain', kind: 'int', min: -100, max: 100, hint: '0 keeps the input level.' },
      { key: 'onvifCodec', label: 'Codec for ONVIF clients', kind: 'select',
        options: [['G.711', 'G.711'], ['AAC', 'AAC']] },
      { key: 'onvifG', label: 'Offer G.711 to ONVIF clients', kind: 'check' },
    ],
  });
  form.refresh();
})();
