'use strict';
// End-to-end test of the device's web pages in Debian's Chromium, driven by playwright-core.
// It talks to a running device (Quillon on a virtual board, fed by korrin-sim); the script
// scripts/test.d/40-web-browser starts those pieces and passes their whereabouts:
//
//   node browser-test.js --url http://127.0.0.1:PORT --board BOARD_ROOT --shots DIR
//                        [--https-url https://127.0.0.1:PORT] [--user admin --password 740163]
//
// Every check prints one line; the exit status is 0 only when all of them passed.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const net = require('net');
const { chromium } = require('playwright-core');

const kChromium = '/usr/bin/chromium';
// No check waits longer than this for the page to show something.
const kWaitMs = 15000;
// Flags for a quiet, self-contained browser: nothing phones home, nothing needs a GPU.
const kFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

function options() {
  const out = { user: 'admin', password: '740163' };
  const argv = process.argv.slice(2);
  for (let i = 0; i < argv.length; i += 2) {
    if (!argv[i].startsWith('--') || argv[i + 1] === undefined) throw new Error('usage: see the head of browser-test.js');
    out[argv[i].slice(2)] = argv[i + 1];
  }
  for (const name of ['url', 'board', 'shots']) if (!out[name]) throw new Error(`--${name} is missing`);
  return out;
}

const opt = options();
let failures = 0;
const browsers = [];

function check(name, ok, detail) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${!ok && detail ? ': ' + detail : ''}`);
  if (!ok) failures++;
}

// A browser with its own fresh profile, holding the given digest credentials.
// The device's certificate is its own, self-signed one: the script checks it pinned with curl,
// and the browser takes it as it is.
async function openBrowser(user, password, viewport) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'web-test-profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: kChromium,
    headless: true,
    args: kFlags,
    httpCredentials: { username: user, password },
    viewport: viewport || { width: 1100, height: 900 },
    ignoreHTTPSErrors: true,
  });
  const entry = { context, profile, errors: [] };
  browsers.push(entry);
  context.on('page', (page) => watch(page, entry));
  for (const page of context.pages()) watch(page, entry);
  return entry;
}

function watch(page, entry) {
  page.on('pageerror', (e) => entry.errors.push(`${page.url()}: ${e.message}`));
}

async function closeBrowser(entry) {
  await entry.context.close().catch(() => {});
  fs.rmSync(entry.profile, { recursive: true, force: true });
  browsers.splice(browsers.indexOf(entry), 1);
}

async function page(entry) {
  return entry.context.pages()[0] || entry.context.newPage();
}

// GET of an /api document from inside a page, so that the browser does the digest login.
async function api(entry, name) {
  const p = await page(entry);
  return p.evaluate(async (url) => (await fetch(url, { cache: 'no-store' })).json(), `${opt.url}/api/${name}`);
}

// The HTTP status curl gets for a page with these digest credentials.
function statusWith(user, password) {
  return execFileSync('curl', ['-s', '-o', '/dev/null', '-w', '%{http_code}', '--max-time', '10', '--digest',
    '-u', `${user}:${password}`, `${opt.url}/index.html`]).toString();
}

async function text(p, selector) {
  return (await p.locator(selector).innerText()).trim();
}

const kPages = ['index.html', 'video.html', 'audio.html', 'picture.html', 'outputs.html', 'network.html',
  'time.html', 'system.html'];

async function testEveryPageLoads(entry) {
  const p = await page(entry);
  for (const name of kPages) {
    const reply = await p.goto(`${opt.url}/${name}`);
    await p.waitForLoadState('networkidle');
    const errors = await p.locator('.status.error').allInnerTexts();
    check(`${name} loads without errors`, reply.status() === 200 && errors.length === 0 && entry.errors.length === 0,
      `HTTP ${reply.status()} ${errors.join(' | ')} ${entry.errors.join(' | ')}`);
    // Every control has a name a screen reader can announce.
    const unlabelled = await p.evaluate(() => [...document.querySelectorAll('input, select, button')]
      .filter((c) => !(c.labels && c.labels.length) && !c.getAttribute('aria-label') && !c.textContent.trim())
      .map((c) => c.id || c.name || c.outerHTML.slice(0, 40)));
    check(`${name}: every control is labelled`, unlabelled.length === 0, unlabelled.join(', '));
  }
}

// On a phone-sized window no page needs sideways scrolling.
async function testPhoneWindow() {
  const phone = await openBrowser(opt.user, opt.password, { width: 375, height: 740 });
  const p = await page(phone);
  for (const name of kPages) {
    await p.goto(`${opt.url}/${name}`);
    await p.waitForLoadState('networkidle');
    const overflow = await p.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    check(`${name} fits a phone-sized window`, overflow <= 0, `${overflow}px too wide`);
    if (name === 'index.html') await p.screenshot({ path: path.join(opt.shots, 'dashboard-phone.png'), fullPage: true });
  }
  await closeBrowser(phone);
}

async function testDashboard(entry) {
  const p = await page(entry);
  await p.goto(`${opt.url}/index.html`);
  await p.locator('#updated', { hasText: 'Updated' }).waitFor({ timeout: kWaitMs });
  const input = await api(entry, 'input-status?index=0');
  const status = await api(entry, 'stream-status?index=0');
  const url = await api(entry, 'stream-url?index=0');
  const shownInput = await text(p, '#input');
  check('the device reports an input signal', /\d+ \* \d+/.test(input.video), JSON.stringify(input));
  check('the dashboard shows the input signal', shownInput.includes(input.video.trim()), shownInput);
  const shownMain = await text(p, '#stream-0');
  check('the device reports the main stream encoding', /\(H\.26[45]\) \d+ \* \d+ @ \d+ fps/.test(status.video),
    JSON.stringify(status));
  check('the dashboard shows the main stream status', shownMain.includes(status.video) && shownMain.includes(status.audio),
    shownMain);
  if (url.rtsp) {
    const shownUrl = await p.locator('#url-0-rtsp').inputValue();
    check('the dashboard shows the RTSP address', shownUrl === url.rtsp, shownUrl);
  }
  // The health table: one row per output the media process reports, with its state; a
  // failing output and a media process that stops reporting raise the banner.
  const health = await api(entry, 'outputs-status?index=0');
  const rows = p.locator('#health table').first().locator('tbody tr');
  await p.waitForFunction((n) => document.querySelectorAll('#health table')[0].tBodies[0].rows.length === n,
    health.outputs.length, { timeout: kWaitMs }).catch(() => {});
  check('the health table has one row per output of the main stream',
    health.outputs.length > 0 && (await rows.count()) === health.outputs.length, JSON.stringify(health));
  const firstRow = await rows.first().innerText();
  check('the health table shows each output\'s state', firstRow.includes(health.outputs[0].state), firstRow);
  const running = health.outputs.every((o) => o.state !== 'failed');
  check('no banner while every output runs', !running || await p.locator('.health-banner').isHidden(),
    await p.locator('.health-banner').innerText());
  const failing = { ...health, stale: true };
  failing.outputs = health.outputs.map((o, i) => (i === 0 ? { ...o, state: 'failed', stateText: 'port taken' } : o));
  await p.route('**/api/outputs-status*', (route) => route.fulfill({ json: failing }));
  await p.locator('.health-banner', { hasText: 'not reporting' }).waitFor({ timeout: kWaitMs })
    .then(() => check('the banner says when the media process stops reporting', true), (e) =>
      check('the banner says when the media process stops reporting', false, e.message));
  const banner = await p.locator('.health-banner').innerText();
  check('the banner names an output that failed to start', banner.includes('failed to start'), banner);
  check('a failed output is shown as failed', (await rows.first().innerText()).includes('failed'));
  await p.unroute('**/api/outputs-status*');
  await p.screenshot({ path: path.join(opt.shots, 'dashboard.png'), fullPage: true });

  // On an LTE connection the dashboard adds the modem's state (the connection type is
  // rewritten in the reply here; the modem's state comes from the device).
  check('the LTE card is hidden on a wired connection', await p.locator('#lte-card').isHidden());
  const lteNetwork = Object.assign(await api(entry, 'network'), { connectionType: 2 });
  await p.route('**/api/network', (route) => route.fulfill({ json: lteNetwork }));
  await p.locator('#lte-card').waitFor({ timeout: kWaitMs });
  // The card shows first, the modem's facts when its own request has answered.
  const lteShown = await p.locator('#lte', { hasText: 'SIM' }).waitFor({ timeout: kWaitMs })
    .then(() => true, () => false);
  check('the LTE card shows the modem on an LTE connection', lteShown, await text(p, '#lte'));
  await p.unroute('**/api/network');

  // The device stops answering (every request refused), then comes back.
  await p.route('**/api/**', (route) => route.abort('connectionrefused'));
  await p.locator('#connection', { hasText: 'not answering' }).waitFor({ timeout: kWaitMs });
  // Any of the page's readers may notice first; the live values follow at their next read.
  check('the dashboard says when the device stops answering',
    await p.locator('#live.stale').waitFor({ timeout: kWaitMs }).then(() => true, () => false));
  await p.unroute('**/api/**');
  await p.locator('#connection').waitFor({ state: 'hidden', timeout: kWaitMs });
  check('the dashboard recovers when the device answers again',
    await p.locator('#live.stale').waitFor({ state: 'detached', timeout: kWaitMs }).then(() => true, () => false));
}

// A port no one listens on now, for the sub stream's HLS output.
function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The live preview: without an HLS output it says so and links to the Outputs page; with the
// sub stream's HLS switched on it plays that stream at its size, and keeps playing.
async function testPreview(entry) {
  const p = await page(entry);
  await p.goto(`${opt.url}/index.html`);
  await p.locator('#preview-status', { hasText: 'No HLS output' }).waitFor({ timeout: kWaitMs });
  check('the preview says when no HLS output is on, with a link to the Outputs page',
    (await p.locator('#preview-status a[href="outputs.html"]').count()) === 1 && await p.locator('#preview-video').isHidden());

  const port = await freePort();
  const saved = await p.evaluate(async ([url, hlsPort]) => {
    const doc = await (await fetch(url, { cache: 'no-store' })).json();
    Object.assign(doc, { hlsEnabled: true, hlsPort, hlsAddr: 'sub' });
    return (await fetch(url, { method: 'POST', body: JSON.stringify(doc) })).status;
  }, [`${opt.url}/api/protocol?index=1`, port]);
  check('the sub stream\'s HLS output is switched on', saved === 200, `HTTP ${saved}`);
  const status = await api(entry, 'stream-status?index=1');
  const size = /(\d+) \* (\d+)/.exec(status.video || '');
  await p.goto(`${opt.url}/index.html`);
  let width = 0;
  try {
    await p.waitForFunction(() => document.querySelector('#preview-video').videoWidth > 0 &&
      document.querySelector('#preview-video').currentTime > 0, null, { timeout: 30000 });
    width = await p.evaluate(() => document.querySelector('#preview-video').videoWidth);
  } catch (e) {
    // reported below
  }
  check('the preview plays the sub stream at its width', size !== null && width === Number(size[1]),
    `video ${width}, stream ${status.video}, status "${await text(p, '#preview-status')}"`);
  const before = await p.evaluate(() => document.querySelector('#preview-video').currentTime);
  await p.waitForTimeout(5000);
  const after = await p.evaluate(() => document.querySelector('#preview-video').currentTime);
  check('the preview keeps playing (3 s of video in 5 s)', after - before >= 3, `${before} -> ${after}`);
  check('the preview says it plays', /Playing the sub stream/.test(await text(p, '#preview-status')),
    await text(p, '#preview-status'));
  // For the preview's delay: the picture shows the time it was made, to the millisecond.
  const shotAt = await p.evaluate(() => new Date().toTimeString().slice(0, 8) + '.' +
    String(Date.now() % 1000).padStart(3, '0'));
  await p.screenshot({ path: path.join(opt.shots, 'preview.png'), fullPage: true });
  console.log(`     preview.png taken at ${shotAt} (page clock); compare the picture's time`);

  // A browser without HLS of its own (Firefox) plays it through hls.js.
  const q = await entry.context.newPage();
  await q.addInitScript(() => { HTMLMediaElement.prototype.canPlayType = () => ''; });
  await q.goto(`${opt.url}/index.html`);
  const viaPlayer = await q.waitForFunction(() => window.Hls !== undefined &&
    document.querySelector('#preview-video').currentTime > 1, null, { timeout: 30000 }).then(() => true, () => false);
  check('without native HLS the preview plays through hls.js', viaPlayer, await text(q, '#preview-status'));
  await q.close();
}

async function testVideo(entry) {
  const p = await page(entry);
  await p.goto(`${opt.url}/video.html`);
  const bitrate = p.locator('#video-form [name=bitrate]');
  await p.waitForFunction(() => document.querySelector('#video-form [name=bitrate]').value !== '', null, { timeout: kWaitMs });
  const before = (await api(entry, 'video?index=0')).bitrate;
  const wanted = before === 3000 ? 3500 : 3000;

  await bitrate.fill(String(wanted));
  await p.locator('#video-form button[type=submit]').click();
  await p.locator('#video-form .status', { hasText: 'Saved' }).waitFor({ timeout: kWaitMs });
  const stored = (await api(entry, 'video?index=0')).bitrate;
  check('a bit rate changed in the video page is stored', stored === wanted, `stored ${stored}, wanted ${wanted}`);
  check('the video form shows the stored bit rate', Number(await bitrate.inputValue()) === stored);

  // A value outside the device's range never leaves the page.
  let posted = 0;
  const count = (req) => { if (req.method() === 'POST' && req.url().includes('/api/video')) posted++; };
  p.on('request', count);
  await bitrate.fill('99999');
  await p.locator('#video-form button[type=submit]').click();
  await p.locator('#video-form-bitrate-error', { hasText: '256 to 12000' }).waitFor({ timeout: kWaitMs });
  check('an out-of-range bit rate is marked invalid', (await bitrate.getAttribute('aria-invalid')) === 'true');
  check('an out-of-range bit rate is not sent', posted === 0, `${posted} POST requests`);
  check('the device keeps the last good bit rate', (await api(entry, 'video?index=0')).bitrate === wanted);
  p.off('request', count);
  await p.screenshot({ path: path.join(opt.shots, 'video.png'), fullPage: true });
}

async function testLogoUpload(entry) {
  const p = await page(entry);
  await p.goto(`${opt.url}/picture.html`);
  await p.waitForLoadState('networkidle');
  // The device checks names and sizes only; any bytes make a picture here.
  const picture = Buffer.alloc(20000, 0x5a);
  await p.locator('#logo-file').setInputFiles({ name: 'company logo.JPG', mimeType: 'image/jpeg', buffer: picture });
  await p.locator('#logo-upload button[type=submit]').click();
  await p.locator('#logo-status', { hasText: 'Stored as main.jpg' }).waitFor({ timeout: kWaitMs });
  for (const stored of ['var/main.jpg', 'customer/logo/main.jpg']) {
    const file = path.join(opt.board, stored);
    check(`an uploaded logo is stored as /${stored}`, fs.existsSync(file) && fs.readFileSync(file).equals(picture));
  }
  check('the logo settings name the uploaded picture', (await api(entry, 'logo?index=0')).name === 'main.jpg');
  check('the logo form shows the uploaded picture', (await p.locator('#logo-form [name=name]').inputValue()) === 'main.jpg');

  // Too large for a JPEG logo: refused in the page.
  await p.locator('#logo-file').setInputFiles({ name: 'big.jpg', mimeType: 'image/jpeg', buffer: Buffer.alloc(102401) });
  await p.locator('#logo-upload button[type=submit]').click();
  await p.locator('#logo-status', { hasText: 'too large' }).waitFor({ timeout: kWaitMs });
  check('a logo over the size limit is refused by the page', true);
}

// The pages over HTTPS, and the httpsOnly setting (as the system page stores it in the
// settings file) sending plain HTTP there.
async function testHttps(entry) {
  if (!opt['https-url']) return;
  const p = await page(entry);
  const reply = await p.goto(`${opt['https-url']}/index.html`);
  await p.waitForLoadState('networkidle');
  const errors = await p.locator('.status.error').allInnerTexts();
  check('index.html loads over HTTPS', reply.status() === 200 && errors.length === 0,
    `HTTP ${reply.status()} ${errors.join(' | ')}`);
  const doc = await p.evaluate(async () => (await fetch('/api/video?index=0', { cache: 'no-store' })).json());
  check('the API answers over HTTPS', typeof doc.codec === 'string', JSON.stringify(doc));

  const settings = path.join(opt.board, 'mnt/config/encoder.ini');
  const before = fs.readFileSync(settings, 'utf8');
  // The first [security] section counts; every save of the settings writes one.
  const switched = /^\[security\]$/m.test(before)
    ? before.replace(/^(\[security\]\n(?:[^[\n][^\n]*\n)*?)httpsOnly=\d+$/m, '$1httpsOnly=1')
    : before + '\n[security]\nhttpsOnly=1\n';
  fs.writeFileSync(settings, switched);
  try {
    const redirected = await p.goto(`${opt.url}/video.html`);
    check('with httpsOnly, plain HTTP leads to the HTTPS page',
      redirected.status() === 200 && p.url() === `${opt['https-url']}/video.html`, `${redirected.status()} ${p.url()}`);
  } finally {
    fs.writeFileSync(settings, before);
  }
  const plain = await p.goto(`${opt.url}/index.html`);
  check('without httpsOnly, plain HTTP serves again', plain.status() === 200 && p.url().startsWith(opt.url),
    `${plain.status()} ${p.url()}`);
}

// The provisioning lock on the network page is stored in the settings file (peerlo reads it
// there); the system page shows the HTTPS switch of the same document. The HTTPS switch is
// not turned on here: the web server would then stop answering plain HTTP.
async function testSecuritySwitches(entry) {
  const p = await page(entry);
  await p.goto(`${opt.url}/network.html`);
  const lock = p.locator('#lock-form [name=provisionLock]');
  await p.waitForLoadState('networkidle');
  const before = await api(entry, 'security');
  check('the network page shows the stored provisioning lock', (await lock.isChecked()) === (before.provisionLock === 1));
  await lock.setChecked(true);
  await p.locator('#lock-form button[type=submit]').click();
  await p.locator('#lock-form .status', { hasText: 'Saved' }).waitFor({ timeout: kWaitMs });
  const after = await api(entry, 'security');
  check('provisioning locked in the network page is stored', after.provisionLock === 1, JSON.stringify(after));
  check('locking keeps the HTTPS switch as it was', after.httpsOnly === before.httpsOnly, JSON.stringify(after));
  const settings = fs.readFileSync(path.join(opt.board, 'mnt/config/encoder.ini'), 'utf8');
  check('the settings file holds the lock for peerlo', /\n\[security\]\n(?:[^\n[]*\n)*provisionLock=1\n/.test(settings));
  check('the settings file is readable by its owner only',
    (fs.statSync(path.join(opt.board, 'mnt/config/encoder.ini')).mode & 0o777) === 0o600);
  await lock.setChecked(false);
  await p.locator('#lock-form button[type=submit]').click();
  await p.locator('#lock-form .status', { hasText: 'Saved' }).waitFor({ timeout: kWaitMs });
  check('provisioning can be unlocked again', (await api(entry, 'security')).provisionLock === 0);

  await p.goto(`${opt.url}/system.html`);
  await p.waitForLoadState('networkidle');
  const https = p.locator('#https-form [name=httpsOnly]');
  check('the system page shows the stored HTTPS switch', (await https.isChecked()) === (after.httpsOnly === 1));
}

// The SRT group of the outputs page: a save with a passphrase, its read-back, the address on
// the dashboard, a value the page refuses, and switching it off again.
async function testSrt(entry) {
  const p = await page(entry);
  const secret = 'browser-Secret-42';
  const form = (name) => p.locator(`#srt-form [name=${name}]`);
  await p.goto(`${opt.url}/outputs.html`);
  await p.waitForFunction(() => document.querySelector('#srt-form [name=port]').value !== '', null, { timeout: kWaitMs });
  await form('enabled').setChecked(true);
  await form('mode').selectOption('listener');
  await form('port').fill('9010');
  await form('latency').fill('300');
  await form('passphrase').fill(secret);
  await form('keyLength').selectOption('24');
  await form('streamId').fill('camera-1');
  await p.locator('#srt-form button[type=submit]').click();
  await p.locator('#srt-form .status', { hasText: 'Saved' }).waitFor({ timeout: kWaitMs });
  const report = await text(p, '#srt-form .status');
  check('the SRT save reads back what was sent', !report.includes('adjusted'), report);
  const doc = await api(entry, 'srt?index=0');
  check('SRT settings saved in the outputs page are stored',
    doc.enabled === 1 && doc.mode === 'listener' && doc.port === 9010 && doc.latency === 300 &&
    doc.keyLength === 24 && doc.streamId === 'camera-1' && doc.passphraseSet === true, JSON.stringify(doc));
  check('the SRT document never carries the passphrase', !JSON.stringify(doc).includes(secret) && !('passphrase' in doc));
  const settings = fs.readFileSync(path.join(opt.board, 'mnt/config/encoder.ini'), 'utf8');
  check('the settings file holds the SRT passphrase', /\n\[master_srt\]\n(?:[^\n[]*\n)*passphrase=browser-Secret-42\n/.test(settings));
  check('the passphrase field stays empty and says one is set',
    (await form('passphrase').inputValue()) === '' && /^Set/.test(await form('passphrase').getAttribute('placeholder')));

  // A latency outside the device's range never leaves the page.
  let posted = 0;
  const count = (req) => { if (req.method() === 'POST' && req.url().includes('/api/srt')) posted++; };
  p.on('request', count);
  await form('latency').fill('10');
  await p.locator('#srt-form button[type=submit]').click();
  await p.locator('#srt-form-latency-error', { hasText: '20 to 8000' }).waitFor({ timeout: kWaitMs });
  check('an out-of-range SRT latency is not sent', posted === 0, `${posted} POST requests`);
  p.off('request', count);

  await p.goto(`${opt.url}/index.html`);
  const url = await api(entry, 'stream-url?index=0');
  const shown = await p.waitForFunction((want) => document.querySelector('#url-0-srt').value === want, url.srt,
    { timeout: kWaitMs }).then(() => true, () => false);
  check('the dashboard shows the SRT listener address', /^srt:\/\/.+:9010$/.test(url.srt) && shown,
    `${await p.locator('#url-0-srt').inputValue()} / ${JSON.stringify(url)}`);

  // Off again, passphrase removed: the stream-url document is as it was before.
  await p.goto(`${opt.url}/outputs.html`);
  await p.waitForFunction(() => document.querySelector('#srt-form [name=port]').value !== '', null, { timeout: kWaitMs });
  await form('enabled').setChecked(false);
  await form('passphraseClear').setChecked(true);
  await p.locator('#srt-form button[type=submit]').click();
  await p.locator('#srt-form .status', { hasText: 'Saved' }).waitFor({ timeout: kWaitMs });
  const off = await api(entry, 'srt?index=0');
  check('SRT can be switched off and its passphrase removed', off.enabled === 0 && off.passphraseSet === false,
    JSON.stringify(off));
  check('the stream-url document has no SRT address while SRT is off', !('srt' in await api(entry, 'stream-url?index=0')));
}

// The RTMP push card: a save with a password that the page and the rtmp document never show
// again, an address the page refuses, and the password removed.
async function testRtmp(entry) {
  const p = await page(entry);
  const secret = 'rtmp-Secret-77';
  const form = (name) => p.locator(`#rtmp-form [name=${name}]`);
  const loaded = () => p.waitForFunction(() => document.querySelector('#rtmp-form [name=rtmpPort]').value !== '', null,
    { timeout: kWaitMs });
  const save = async () => {
    await p.locator('#rtmp-form button[type=submit]').click();
    await p.locator('#rtmp-form .status', { hasText: 'Saved' }).waitFor({ timeout: kWaitMs });
  };
  await p.goto(`${opt.url}/outputs.html`);
  await loaded();
  await form('rtmpAddr').fill('rtmp://127.0.0.1/live/browser');
  await form('rtmpPort').fill('1935');
  await form('rtmpUser').fill('pusher');
  await form('rtmpPassword').fill(secret);
  await save();
  const doc = await api(entry, 'rtmp?index=0');
  check('RTMP settings saved in the outputs page are stored',
    doc.rtmpAddr === 'rtmp://127.0.0.1/live/browser' && doc.rtmpUser === 'pusher' && doc.passwordSet === true,
    JSON.stringify(doc));
  check('the rtmp document never carries the password', !JSON.stringify(doc).includes(secret));
  await p.reload();
  await loaded();
  check('the RTMP password field stays empty and says one is set',
    (await form('rtmpPassword').inputValue()) === '' && /^Set/.test(await form('rtmpPassword').getAttribute('placeholder')));

  await form('rtmpAddr').fill('ftp://127.0.0.1/x');
  await p.locator('#rtmp-form button[type=submit]').click();
  await p.locator('#rtmp-form-rtmpAddr-error', { hasText: 'rtmp://' }).waitFor({ timeout: kWaitMs });
  check('an address that is neither an RTMP URL nor a host is refused by the page', true);

  await p.reload();
  await loaded();
  await form('rtmpAddr').fill('127.0.0.1');
  await form('passwordClear').setChecked(true);
  await save();
  const cleared = await api(entry, 'rtmp?index=0');
  check('the RTMP password can be removed', cleared.passwordSet === false && cleared.rtmpAddr === '127.0.0.1',
    JSON.stringify(cleared));
}

async function testPasswordChange(entry) {
  const p = await page(entry);
  const newPassword = 'n3w-Pass';
  await p.goto(`${opt.url}/system.html`);
  await p.waitForLoadState('networkidle');
  await p.locator('#pw-user').fill(opt.user);
  await p.locator('#pw-new').fill(newPassword);
  await p.locator('#pw-again').fill(newPassword);
  await p.locator('#pw-form button[type=submit]').click();
  await p.getByRole('dialog').getByRole('button', { name: 'Change password' }).click();
  await p.locator('#pw-status', { hasText: 'password was changed' }).waitFor({ timeout: kWaitMs });

  check('the old credentials fail after the password change', statusWith(opt.user, opt.password) === '401');
  check('the new credentials are accepted', statusWith(opt.user, newPassword) === '200');
  // A browser that still holds the old credentials gets no page.
  const stale = await openBrowser(opt.user, opt.password);
  const refused = await (await page(stale)).goto(`${opt.url}/index.html`).catch((e) => e);
  check('a browser with the old credentials is refused',
    refused instanceof Error ? /ERR_/.test(refused.message) : refused.status() === 401, String(refused));
  await closeBrowser(stale);

  const fresh = await openBrowser(opt.user, newPassword);
  const accepted = await (await page(fresh)).goto(`${opt.url}/index.html`);
  check('a browser with the new credentials gets the pages', accepted.status() === 200, `HTTP ${accepted.status()}`);
  await closeBrowser(fresh);
}

async function main() {
  fs.mkdirSync(opt.shots, { recursive: true });
  const entry = await openBrowser(opt.user, opt.password);
  const steps = [testEveryPageLoads, testPhoneWindow, testDashboard, testPreview, testVideo, testLogoUpload, testHttps, testSecuritySwitches,
    testSrt, testRtmp, testPasswordChange];
  for (const step of steps) {
    try {
      await step(entry);
    } catch (e) {
      check(step.name, false, e.message.split('\n')[0]);
    }
  }
  check('no script errors in the pages', entry.errors.length === 0, entry.errors.join(' | '));
}

// A failure inside a route handler or page callback counts as a failed check, not a crash.
process.on('unhandledRejection', (e) => check('no unexpected failure', false, String(e && e.message)));

main()
  .catch((e) => check('browser test', false, e.stack))
  .finally(async () => {
    for (const entry of [...browsers]) await closeBrowser(entry);
    console.log(failures === 0 ? 'browser test: all checks passed' : `browser test: ${failures} checks failed`);
    process.exitCode = failures === 0 ? 0 : 1;
  });
