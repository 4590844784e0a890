'use strict';
// Device information, firmware upload, the upgrade server, the web password, the log upload
// server, restart and factory reset.
(() => {
  const { $, el } = Enc;

  async function info() {
    try {
      const s = await Enc.getDoc('sysinfo');
      const rows = [['Serial number', s.devSeq], ['Firmware', s.softVersion], ['Hardware', s.hardVersion], ['Uptime', s.uptime]];
      $('#info').replaceChildren(...rows.flatMap(([k, v]) => [el('dt', { text: k }), el('dd', { text: (v || '').trim() || 'none' })]));
    } catch (e) {
      $('#info').replaceChildren(el('dt', { text: 'State' }), el('dd', { text: e.message }));
    }
  }

  // ---- firmware ----
  // Files the device acts on; smaller images are ignored by the device, and the web server
  // takes at most 64 MiB in one upload.
  const kMinFirmwareBytes = 51200;
  const kMaxUploadBytes = 64 * 1024 * 1024;
  const kImageNames = ['rootfs_sqfs.img', 'rootfs_uclib_squashfs.img', 'customer.sqfs'];

  function firmwareProblem(file) {
    if (!file) return 'Choose a firmware file first.';
    const name = file.name;
    const known = /\.gz$/i.test(name) || kImageNames.includes(name) || (/kernel/.test(name) && /\.[^.]+$/.test(name));
    if (!known) return `The device does not install "${name}". Use an upgrade package (.gz) or one of ${kImageNames.join(', ')}.`;
    if (file.size <= kMinFirmwareBytes) return 'This file is too small to be a firmware image.';
    if (file.size > kMaxUploadBytes) return 'This file is larger than the 64 MB the device accepts.';
    return '';
  }

  const fwStatus = $('#fw-status');
  const fwProgress = $('#fw-progress');
  $('#fw-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const file = $('#fw-file').files[0];
    const problem = firmwareProblem(file);
    if (problem) return Enc.setStatus(fwStatus, 'error', problem);
    if (!(await Enc.confirmAction('Install this firmware?',
      `The device stores ${file.name}, writes it to its flash and restarts. This takes a few minutes; ` +
      'do not switch the device off or reload this page meanwhile.', 'Install', true))) return;
    const button = e.submitter || $('#fw-form button');
    button.disabled = true;
    fwProgress.hidden = false;
    $('#fw-progress-label').hidden = false;
    fwProgress.value = 0;
    Enc.setStatus(fwStatus, 'busy', 'Uploading… 0 %');
    try {
      const reply = await Enc.upload(file, file.name,
        (f) => { fwProgress.value = f; Enc.setStatus(fwStatus, 'busy', `Uploading… ${Math.floor(f * 100)} %`); },
        () => Enc.setStatus(fwStatus, 'busy', 'Upload complete. The device is writing the firmware to its flash; do not switch it off.'));
      if (reply.status === 413) throw new Error('The device refused the file: it is too large.');
      if (reply.status !== 200) throw new Error(`The device refused the file (HTTP ${reply.status}).`);
      Enc.setStatus(fwStatus, 'busy', 'The firmware is stored; the device restarts now and cannot be reached for a few minutes. This page shows when it answers again.');
      EncSystem.waitForDevice(fwStatus, 'upgrade');
    } catch (err) {
      if (err.status === 0) {
        Enc.setStatus(fwStatus, 'busy', 'The connection ended during the upgrade; the device is probably restarting. This page shows when it answers again.');
        EncSystem.waitForDevice(fwStatus, 'upgrade');
      } else {
        Enc.setStatus(fwStatus, 'error', err.message);
      }
    } finally {
      button.disabled = false;
    }
  });

  // ---- upgrade server ----
  const serverStatus = $('#server-status');
  const server = new EncForms.SettingsForm({
    form: $('#server-form'),
    doc: 'httpset',
    fields: [{ key: 'serverIP', label: 'Server address', kind: 'text', maxLength: 100,
               hint: 'Host name or address of the HTTP server that offers upgrades.' }],
  });
  const serverAddress = () => server.values().serverIP;
  const check = el('button', { type: 'button', class: 'secondary', text: 'Check for a new version' });
  const fetchUpgrade = el('button', { type: 'button', class: 'danger', text: 'Upgrade from the server…' });
  server.form.querySelector('.actions').append(check, fetchUpgrade);

  check.addEventListener('click', async () => {
    if (!serverAddress()) return Enc.setStatus(serverStatus, 'error', 'Enter the server address first.');
    Enc.setStatus(serverStatus, 'busy', 'Asking the upgrade server…');
    try {
      const reply = await Enc.request('/api/httpdetect', {
        method: 'POST', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ serverIP: serverAddress(), version: '' }),
      }, 60000);
      if (!reply.ok) throw new Error(`HTTP ${reply.status}`);
      const doc = JSON.parse(await reply.text());
      const version = (doc.version || '').trim();
      Enc.setStatus(serverStatus, version ? 'ok' : 'warn',
        version ? `The server offers version ${version}.` : 'The server offers no version (or could not be reached).');
    } catch (e) {
      Enc.setStatus(serverStatus, 'error', 'The check failed: ' + e.message);
    }
  });

  fetchUpgrade.addEventListener('click', async () => {
    if (!serverAddress()) return Enc.setStatus(serverStatus, 'error', 'Enter the server address first.');
    if (!(await Enc.confirmAction('Upgrade from the server?',
      'The device downloads the upgrade package from the server, installs it and restarts.', 'Upgrade', true))) return;
    Enc.setStatus(serverStatus, 'busy', 'Downloading the upgrade package…');
    try {
      const reply = await Enc.request('/api/httpupgrade', {
        method: 'POST', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ serverIP: serverAddress(), version: '' }),
      }, 10 * 60000);
      if (!reply.ok) throw new Error('the device could not fetch the package.');
      Enc.setStatus(serverStatus, 'busy', 'The package was fetched; the device installs it and restarts.');
      EncSystem.waitForDevice(serverStatus, 'upgrade');
    } catch (e) {
      Enc.setStatus(serverStatus, 'error', 'The upgrade failed: ' + e.message);
    }
  });

  // ---- web password ----
  const pw = { user: $('#pw-user'), password: $('#pw-new'), again: $('#pw-again') };
  const pwStatus = $('#pw-status');
  const bytes = (s) => new TextEncoder().encode(s).length;

  function mark(input, message) {
    const error = $('#' + input.id + '-error');
    error.textContent = message;
    error.hidden = !message;
    if (message) input.setAttribute('aria-invalid', 'true');
    else input.removeAttribute('aria-invalid');
    return message ? input : null;
  }

  $('#pw-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const user = pw.user.value.trim();
    const password = pw.password.value;
    // The password file separates its fields with ":"; the device reads at most 255 bytes.
    const bad = [
      mark(pw.user, !user ? 'Enter a user name.' : /[:\s]/.test(user) ? 'A user name has no ":" and no blanks.'
        : bytes(user) > 255 ? 'At most 255 characters.' : ''),
      mark(pw.password, !password ? 'Enter the new password.' : bytes(password) > 255 ? 'At most 255 characters.'
        : Enc.hasControl(password) ? 'Control characters are not allowed.' : ''),
      mark(pw.again, pw.again.value !== password ? 'The two passwords differ.' : ''),
    ].filter(Boolean);
    if (bad.length) {
      Enc.setStatus(pwStatus, 'error', 'The password was not changed.');
      bad[0].focus();
      return;
    }
    if (!(await Enc.confirmAction('Change the web password?',
      `From now on the device accepts only "${user}" with the new password. Keep it safe: ` +
      'without it only a factory reset gives access again.', 'Change password'))) return;
    try {
      await Enc.postForm('/sys/password', { user, password });
    } catch (err) {
      Enc.setStatus(pwStatus, 'error', 'The password was not changed: ' + err.message);
      return;
    }
    pw.password.value = '';
    pw.again.value = '';
    Enc.setStatus(pwStatus, 'ok', 'The password was changed. The browser now asks for the new user name and password.');
    // Reloading makes the browser's stored credentials fail, so it asks for the new ones.
    setTimeout(() => location.reload(), 2000);
  });

  // ---- log upload server: the FTP keys of the time document, sent whole ----
  new EncForms.SettingsForm({
    form: $('#ftp-form'),
    doc: 'ftplog',
    fields: [
      { key: 'ftpserverIP', label: 'Server address', kind: 'text', maxLength: 100 },
      { key: 'username', label: 'User name', kind: 'text', maxLength: 63 },
      { key: 'fpassword', label: 'Password', kind: 'password', maxLength: 63 },
    ],
  }).refresh();

  // ---- HTTPS only: a switch of the security document, the other switch sent back as read ----
  new EncForms.SettingsForm({
    form: $('#https-form'),
    doc: 'security',
    fields: [
      { key: 'httpsOnly', label: 'Serve pages and settings over HTTPS only', kind: 'check' },
    ],
  }).refresh();

  $('#reboot').addEventListener('click', () => EncSystem.restart($('#restart-status')));
  $('#reset').addEventListener('click', () => EncSystem.factoryReset($('#restart-status')));

  info();
  server.refresh();
})();
