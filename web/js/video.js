'use strict';
// The encoder settings of the main and the sub stream. The limits are the device's own
// ("/api/limits"): a value outside them would be replaced by the device's fallback, so the
// form refuses it. The main stream's frame rate follows the input's.
(() => {
  const { $ } = Enc;
  const main = $('#main');
  const stream = Enc.streamSwitch(main, () => load());
  let inputFps = null;  // from the input status text ("... @ 60"); null when unknown
  const limits = (key) => Enc.deviceLimits('video', key, stream, () => inputFps);

  const resolutions = [
    ['0*0', 'Same as the input'],
    ['3840*2160', '3840 × 2160'],
    ['1920*1080', '1920 × 1080'],
    ['1280*720', '1280 × 720'],
    ['1024*576', '1024 × 576'],
    ['960*540', '960 × 540'],
    ['720*576', '720 × 576'],
    ['720*480', '720 × 480'],
    ['640*360', '640 × 360'],
    ['480*270', '480 × 270'],
  ];

  const form = new EncForms.SettingsForm({
    form: $('#video-form'),
    doc: 'video',
    index: stream,
    fields: [
      { key: 'codec', label: 'Codec', kind: 'select', options: [['H.264', 'H.264'], ['H.265', 'H.265']] },
      { key: 'profile', label: 'Profile', kind: 'select',
        options: [['baseline', 'Baseline'], ['main', 'Main'], ['high', 'High']],
        hint: 'H.265 uses the Main profile.' },
      { key: 'resolution', label: 'Resolution', kind: 'select', options: resolutions },
      { key: 'framerate', label: 'Frame rate', kind: 'int', unit: 'fps', ...limits('framerate'),
        hint: () => (stream() === 0
          ? (inputFps !== null ? `The input runs at ${inputFps} fps.` : 'The input frame rate is unknown now.')
          : '') },
      { key: 'gop', label: 'GOP (key frame interval)', kind: 'int', unit: 'frames', ...limits('gop') },
      { key: 'bitmode', label: 'Bit rate mode', kind: 'select', numeric: true,
        options: [[0, 'Constant (CBR)'], [1, 'Variable (VBR)']] },
      { key: 'bitrate', label: 'Bit rate', kind: 'int', unit: 'kbit/s', ...limits('bitrate') },
      { key: 'minQp', label: 'Lowest QP', kind: 'int', ...limits('minQp'), hint: 'Lower means better quality.' },
      { key: 'maxQp', label: 'Highest QP', kind: 'int', ...limits('maxQp'),
        check: (v, all) => (typeof all.minQp === 'number' && v < all.minQp ? 'The highest QP must not be below the lowest.' : '') },
    ],
  });

  async function load() {
    try {
      const input = await Enc.getDoc('input-status', 0);
      const match = /@\s*(\d+)/.exec(input.video || '');
      inputFps = match ? Number(match[1]) : null;
      $('#video-input').textContent = `Input: ${[input.type, input.video].filter(Boolean).join(', ') || 'no signal'}`;
    } catch (e) {
      inputFps = null;
    }
    await form.refresh();
  }

  load();
})();
