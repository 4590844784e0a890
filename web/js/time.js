'use strict';
// The device clock, setting it from the browser, and time synchronisation.
(() => {
  const { $ } = Enc;
  const kWeekdays = ['Sunday', 'Monday', 'Tuesday', 'Wednesday', 'Thursday', 'Friday', 'Saturday'];
  // The shown clock runs on locally and is read again from the device this often.
  const kReadMs = 30000;
  const status = $('#clock-status');
  let deviceMs = null;  // the device's local time as a UTC-based number, when last read
  let readAt = 0;

  const two = (n) => String(n).padStart(2, '0');

  function show() {
    const rows = [];
    if (deviceMs !== null) {
      const t = new Date(deviceMs + (Date.now() - readAt));
      rows.push(['Device time', `${t.getUTCFullYear()}-${two(t.getUTCMonth() + 1)}-${two(t.getUTCDate())} ` +
        `${two(t.getUTCHours())}:${two(t.getUTCMinutes())}:${two(t.getUTCSeconds())}, ${kWeekdays[t.getUTCDay()]}`]);
    } else {
      rows.push(['Device time', 'unknown']);
    }
    rows.push(['This browser', new Date().toLocaleString()]);
    $('#clock').replaceChildren(...rows.flatMap(([k, v]) => [Enc.el('dt', { text: k }), Enc.el('dd', { text: v })]));
  }

  async function read() {
    try {
      // The device reports months from 1.
      const t = await Enc.getDoc('adjusttime');
      deviceMs = Date.UTC(t.year, t.month - 1, t.date, t.hour, t.min, t.sec);
      readAt = Date.now();
    } catch (e) {
      Enc.setStatus(status, 'error', e.message);
    }
    show();
  }

  $('#clock-set').addEventListener('click', async () => {
    // The device takes the time as UTC, moves it into its own time zone, and counts the
    // request's months from 0.
    const now = new Date();
    const body = {
      year: now.getUTCFullYear(), month: now.getUTCMonth(), date: now.getUTCDate(), day: now.getUTCDay(),
      hour: now.getUTCHours(), min: now.getUTCMinutes(), sec: now.getUTCSeconds(),
    };
    Enc.setStatus(status, 'busy', 'Setting the device clock…');
    try {
      await Enc.postDoc('adjusttime', undefined, body);
      await read();
      Enc.setStatus(status, 'ok', 'The device clock was set from this browser; it shows the time in its own time zone.');
    } catch (e) {
      Enc.setStatus(status, 'error', 'The clock was not set: ' + e.message);
    }
  });
  $('#clock-read').addEventListener('click', read);

  const zoneName = (h) => `UTC${h < 0 ? '−' : '+'}${two(Math.abs(h))}:00`;
  const zones = [];
  for (let h = -12; h <= 11; h++) zones.push([h, zoneName(h)]);

  new EncForms.SettingsForm({
    form: $('#sync-form'),
    doc: 'clockSet',
    fields: [
      { key: 'timeMode', label: 'Synchronise with a time server', kind: 'check' },
      { key: 'timeServer', label: 'Time server', kind: 'text', maxLength: 63,
        hint: 'A host name or address; empty uses the device\'s default server.',
        check: (v) => (/^[A-Za-z0-9.\-]*$/.test(v) ? '' : 'Use a host name such as pool.ntp.org.') },
      { key: 'ftptime', label: 'Synchronise every', kind: 'int', unit: 'hours', ...Enc.deviceLimits('ftplog', 'ftptime'),
        hint: '0 means every 4 hours.' },
      { key: 'localtimezone', label: 'Time zone', kind: 'select', numeric: true, options: zones },
    ],
  }).refresh();

  read();
  setInterval(show, 1000);
  setInterval(read, kReadMs);
})();
