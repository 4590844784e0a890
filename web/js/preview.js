'use strict';
// The dashboard's live preview: the sub stream's HLS output (the main stream's when only it has
// HLS) in a muted video, with one line saying whether it plays. Browsers with HLS of their own
// (Chromium, Safari) play the playlist directly; others get hls.js (js/vendor/hls.min.js,
// shipped with its licence), loaded only then. Nothing here touches the rest of the page.
(() => {
  const { el, $ } = Enc;
  const kCheckMs = 1000;
  // Seconds without progress after which the preview counts as stalled and starts again.
  const kStallSeconds = 6;
  const kSettingsMs = 10000;
  const kStreamNames = ['main', 'sub'];

  const video = $('#preview-video');
  const status = $('#preview-status');
  let source = '';
  let player = null;
  let lastTime = -1;
  let stillSince = 0;
  let chosen = null;

  function say(text, link) {
    status.replaceChildren(text);
    if (link) status.append(' ', el('a', { href: 'outputs.html', text: link }), '.');
  }

  // The stream to show: sub first, as the lighter one; null when neither has HLS.
  function choose(protocols) {
    for (const index of [1, 0]) {
      const p = protocols[index];
      if (p && p.hlsEnabled) {
        const name = String(p.hlsAddr || '').trim().replace(/^\/+/, '') || kStreamNames[index];
        return { index, url: `http://${location.hostname}:${p.hlsPort}/${name}.m3u8` };
      }
    }
    return null;
  }

  function loadHlsJs() {
    if (window.Hls) return Promise.resolve(window.Hls);
    return new Promise((resolve, reject) => {
      const script = el('script', { src: 'js/vendor/hls.min.js' });
      script.onload = () => resolve(window.Hls);
      script.onerror = () => reject(new Error('no player'));
      document.head.append(script);
    });
  }

  function stop() {
    if (player) player.destroy();
    player = null;
    video.removeAttribute('src');
    video.load();
    source = '';
  }

  async function start(url) {
    stop();
    source = url;
    lastTime = -1;
    stillSince = Date.now();
    video.hidden = false;
    say('Starting the preview…');
    if (video.canPlayType('application/vnd.apple.mpegurl')) {
      video.src = url;
    } else {
      try {
        const Hls = await loadHlsJs();
        if (!Hls || !Hls.isSupported()) throw new Error('unsupported');
        player = new Hls({ liveSyncDurationCount: 2 });
        player.loadSource(url);
        player.attachMedia(video);
      } catch (e) {
        say('This browser cannot play the preview; open the HLS address in a player.');
        return;
      }
    }
    video.play().catch(() => {});
  }

  function watch() {
    if (source) {
      const now = Date.now();
      if (video.currentTime !== lastTime) {
        lastTime = video.currentTime;
        stillSince = now;
        if (!video.paused && video.currentTime > 0) say(`Playing the ${kStreamNames[chosen.index]} stream.`);
      } else if (now - stillSince > kStallSeconds * 1000) {
        say('Stalled: no new pictures from the stream; trying again.');
        start(source);
      }
    }
    setTimeout(watch, kCheckMs);
  }

  async function settings() {
    try {
      const protocols = await Promise.all([Enc.getDoc('protocol', 0), Enc.getDoc('protocol', 1)]);
      chosen = choose(protocols);
      if (!chosen) {
        stop();
        video.hidden = true;
        say('No HLS output is switched on; switch one on on the', 'Outputs page');
      } else if (chosen.url !== source) {
        start(chosen.url);
      }
    } catch (e) {
      // The dashboard already says when the device is not answering; the video keeps going.
    } finally {
      setTimeout(settings, kSettingsMs);
    }
  }

  settings();
  watch();
})();
