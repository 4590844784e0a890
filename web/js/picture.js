'use strict';
// Per stream: picture adjustment, the two text overlays and the logo with its upload.
(() => {
  const { $ } = Enc;
  const stream = Enc.streamSwitch($('#main'), () => loadAll());

  const chroma = new EncForms.SettingsForm({
    form: $('#chroma-form'),
    doc: 'chroma',
    index: stream,
    fields: ['brightness', 'contrast', 'hue', 'saturation'].map((key) => (
      { key, label: key[0].toUpperCase() + key.slice(1), kind: 'range', min: 0, max: 100 })),
  });

  // Overlay n's limits, as the device keeps them (overlay 1 inside the picture).
  const osdLimits = (n, key) => Enc.deviceLimits('osd', key, () => n);
  const overlay = (n) => [
    { key: `o${n}_text`, label: `Overlay ${n + 1} text`, kind: 'text', maxLength: 100 },
    ...(n === 0 ? [{ key: 'o0_textMode', label: 'Overlay 1 shows', kind: 'select', numeric: true,
                     options: [[0, 'The text'], [1, 'The text and the date and time']] }] : []),
    { key: `o${n}_x`, label: 'Left (x)', kind: 'int', ...osdLimits(n, 'x'), unit: 'px' },
    { key: `o${n}_y`, label: 'Top (y)', kind: 'int', ...osdLimits(n, 'y'), unit: 'px' },
    { key: `o${n}_fontSize`, label: 'Font size', kind: 'int', ...osdLimits(n, 'fontSize') },
    { key: `o${n}_opacity`, label: 'Opacity', kind: 'int', ...osdLimits(n, 'opacity'), hint: '128 is fully opaque.' },
    { key: `o${n}_textColor`, label: 'Text colour', kind: 'color' },
    { key: `o${n}_bkMode`, label: 'Background', kind: 'select', numeric: true, options: [[0, 'None'], [1, 'Filled']] },
    { key: `o${n}_bkColor`, label: 'Background colour', kind: 'color' },
  ];
  const kOverlayKeys = ['x', 'y', 'fontSize', 'opacity', 'textColor', 'bkMode', 'bkColor', 'text', 'textMode'];

  const osd = new EncForms.SettingsForm({
    form: $('#osd-form'),
    doc: 'osd',
    index: stream,
    groups: [
      { legend: 'Overlay 1', fields: overlay(0) },
      { legend: 'Overlay 2', fields: overlay(1) },
    ],
    // The document is an array of the two overlays; the form shows them side by side.
    fromDoc: (doc) => {
      const flat = {};
      doc.forEach((o, n) => { for (const [k, v] of Object.entries(o)) flat[`o${n}_${k}`] = v; });
      return flat;
    },
    toPayload: (values, base) => [0, 1].map((n) => {
      const o = Object.assign({}, base[n]);
      for (const k of kOverlayKeys) if (`o${n}_${k}` in values) o[k] = values[`o${n}_${k}`];
      return o;
    }),
  });

  const logo = new EncForms.SettingsForm({
    form: $('#logo-form'),
    doc: 'logo',
    index: stream,
    fields: [
      { key: 'enable', label: 'Show the logo', kind: 'check' },
      { key: 'name', label: 'Picture', kind: 'info', hint: 'Upload a picture below to replace it.' },
      { key: 'x', label: 'Left (x)', kind: 'int', min: 0, max: 8192, unit: 'px' },
      { key: 'y', label: 'Top (y)', kind: 'int', min: 0, max: 8192, unit: 'px' },
      { key: 'opacity', label: 'Opacity', kind: 'int', min: 0, max: 128, hint: '128 is fully opaque.' },
    ],
  });

  // ---- logo upload: the device takes "main.bmp", "main.jpg", "sub.bmp" or "sub.jpg" ----
  const kPictureLimits = { bmp: 204800, jpg: 102400 };
  const upload = $('#logo-upload');
  const file = $('#logo-file');
  const progress = $('#logo-progress');
  const status = $('#logo-status');

  function uploadName() {
    const picked = file.files[0];
    const ext = picked ? (/\.(bmp|jpe?g)$/i.exec(picked.name) || [])[1] : null;
    return ext ? `${stream() === 0 ? 'main' : 'sub'}.${ext.toLowerCase() === 'bmp' ? 'bmp' : 'jpg'}` : null;
  }

  function describe() {
    $('#logo-file-hint').textContent = `The picture is stored for the ${stream() === 0 ? 'main' : 'sub'} stream.`;
  }

  upload.addEventListener('submit', async (e) => {
    e.preventDefault();
    const picked = file.files[0];
    const name = uploadName();
    if (!picked) return Enc.setStatus(status, 'error', 'Choose a picture file first.');
    if (!name) return Enc.setStatus(status, 'error', 'The device takes BMP or JPEG pictures only.');
    const ext = name.split('.').pop();
    if (picked.size > kPictureLimits[ext]) {
      return Enc.setStatus(status, 'error', `The picture is too large: ${ext.toUpperCase()} pictures may have at most ${kPictureLimits[ext] / 1024} KB.`);
    }
    progress.hidden = false;
    progress.value = 0;
    Enc.setStatus(status, 'busy', `Uploading as ${name}…`);
    try {
      const reply = await Enc.upload(picked, name, (f) => { progress.value = f; });
      if (reply.status !== 200) throw new Error(`The device refused the picture (HTTP ${reply.status}).`);
      await logo.load();
      Enc.setStatus(status, 'ok', `Stored as ${name}. Switch on "Show the logo" and save to display it.`);
      file.value = '';
    } catch (err) {
      Enc.setStatus(status, 'error', err.message);
    } finally {
      progress.hidden = true;
    }
  });

  function loadAll() {
    describe();
    Enc.setStatus(status, '', '');
    chroma.refresh();
    osd.refresh();
    logo.refresh();
  }

  loadAll();
})();
