'use strict';
// The dashboard: the input signal, both streams with their addresses, the system and, on an
// LTE connection, the modem. Everything is read again every few seconds.
(() => {
  const { el, $ } = Enc;
  const kRefreshMs = 3000;
  // Connection type 2 is the LTE modem.
  const kLteConnection = 2;

  // Where each stream can be received, in the order shown: [key, label, document].
  const kAddresses = [
    ['rtsp', 'RTSP', 'url'],
    ['flv', 'HTTP-FLV', 'status'],
    ['hls', 'HLS', 'status'],
    ['tsHtttp', 'TS over HTTP', 'status'],
    ['ts', 'TS over UDP', 'status'],
    ['addr', 'Multicast', 'status'],
    ['http', 'RTMP push target', 'url'],
    ['srt', 'SRT', 'url'],
  ];
  // An SRT caller is where the device sends to, not an address to play from.
  const srtLabel = (mode) => (mode === 'caller' ? 'SRT (the device calls)' : 'SRT');

  const text = (v) => (v === undefined || v === null || String(v).trim() === '' ? 'none' : String(v).trim());

  function facts(dl, rows) {
    dl.replaceChildren(...rows.flatMap(([name, value]) => [el('dt', { text: name }), el('dd', { text: text(value) })]));
  }

  // Each stream card keeps its elements, so a refresh does not disturb a selection or focus.
  const streams = [0, 1].map((index) => {
    const card = $('#stream-' + index);
    const dl = el('dl', { class: 'facts' });
    const list = el('ul', { class: 'urls', 'aria-label': 'Addresses' });
    const none = el('p', { class: 'muted', text: 'No output is switched on.', hidden: true });
    const rows = {};
    for (const [key, label] of kAddresses) {
      const id = `url-${index}-${key}`;
      const copy = Enc.copyField(id, label, '');
      const name = el('label', { for: id, text: label });
      const item = el('li', { hidden: true }, name, copy.row);
      rows[key] = { item, input: copy.input, name };
      list.append(item);
    }
    card.append(dl, list, none);
    return { dl, rows, none };
  });

  function showStream(index, status, url) {
    const s = streams[index];
    facts(s.dl, [['Video', status.video], ['Audio', status.audio]]);
    let shown = 0;
    for (const [key, , doc] of kAddresses) {
      const value = ((doc === 'url' ? url : status)[key] || '').trim();
      const row = s.rows[key];
      if (row.input.value !== value) row.input.value = value;
      row.item.hidden = value === '';
      shown += value === '' ? 0 : 1;
    }
    s.rows.srt.name.textContent = srtLabel(url.srtMode);
    s.none.hidden = shown > 0;
  }

  function simState(state) {
    return state === 1 ? 'ready' : 'not ready';
  }

  async function refresh() {
    try {
      const [input, status0, status1, url0, url1, sys, net] = await Promise.all([
        Enc.getDoc('input-status', 0),
        Enc.getDoc('stream-status', 0),
        Enc.getDoc('stream-status', 1),
        Enc.getDoc('stream-url', 0),
        Enc.getDoc('stream-url', 1),
        Enc.getDoc('sysinfo'),
        Enc.getDoc('network'),
      ]);
      facts($('#input'), [['Source', input.type], ['Video', input.video], ['Audio', input.audio]]);
      showStream(0, status0, url0);
      showStream(1, status1, url1);
      facts($('#system'), [
        ['Serial number', sys.devSeq],
        ['Firmware', sys.softVersion],
        ['Hardware', sys.hardVersion],
        ['Uptime', sys.uptime],
      ]);
      const lteCard = $('#lte-card');
      lteCard.hidden = net.connectionType !== kLteConnection;
      if (!lteCard.hidden) {
        const lte = await Enc.getDoc('lte');
        facts($('#lte'), [
          ['SIM', simState(lte.state) + (lte.esimActive ? ' (eSIM)' : '')],
          ['Operator', lte.server],
          ['Signal', lte.signal === 99 ? 'unknown' : `${lte.signal} of 31`],
          ['Address', lte.ip],
          ['ICCID', lte.iccid],
        ]);
      }
      $('#live').classList.remove('stale');
      $('#updated').textContent = `Updated ${Enc.clock()}; refreshed every ${kRefreshMs / 1000} seconds.`;
    } catch (e) {
      $('#live').classList.add('stale');
      $('#updated').textContent = Enc.isDown()
        ? 'The values below are out of date: the device is not answering.'
        : e.message;
    } finally {
      setTimeout(refresh, kRefreshMs);
    }
  }

  refresh();
})();
