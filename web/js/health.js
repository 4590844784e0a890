'use strict';
// The dashboard's output health: one table per stream from /api/outputs-status, read every
// two seconds, and a banner when the media process stopped reporting or an output could not
// start. Self-contained: it needs only the #health section of the page.
(() => {
  const { el, $ } = Enc;
  const kRefreshMs = 2000;
  const kStreams = ['Main stream', 'Sub stream'];
  // Colour classes of the states; "failed" and "retrying" also raise the banner's attention.
  const kStateClass = {
    serving: 'ok', publishing: 'ok', connecting: 'wait', retrying: 'bad', failed: 'bad', off: 'off',
  };

  function rate(bitsPerSecond) {
    if (!bitsPerSecond) return '0';
    return bitsPerSecond >= 1e6 ? `${(bitsPerSecond / 1e6).toFixed(2)} Mbit/s`
      : `${Math.round(bitsPerSecond / 1e3)} kbit/s`;
  }

  function srtCell(o) {
    if (!o.srt) return '';
    return `${o.srt.rttMs.toFixed(1)} ms / ${o.srt.lost} lost`;
  }

  function row(o) {
    const state = el('span', { class: 'state state-' + (kStateClass[o.state] || 'off'), text: o.state });
    const reason = o.stateText ? el('span', { class: 'muted small', text: ' ' + o.stateText }) : null;
    return el('tr', {},
      el('td', {}, el('strong', { text: o.protocol }), el('br'), el('span', { class: 'small', text: o.address })),
      el('td', {}, state, reason),
      el('td', { class: 'num', text: String(o.receivers) }),
      el('td', { class: 'num', text: rate(o.bitrate) }),
      el('td', { class: 'num', text: `${o.drops} / ${o.sendErrors}` }),
      el('td', { class: 'num', text: srtCell(o) }));
  }

  const section = $('#health');
  const banner = el('p', { class: 'health-banner', role: 'status', hidden: true });
  const tables = kStreams.map((name) => {
    const caption = el('caption', { text: name });
    const body = el('tbody');
    const head = el('thead', {}, el('tr', {}, ...['Output', 'State', 'Receivers', 'Rate', 'Drops / errors', 'SRT RTT / loss']
      .map((h) => el('th', { scope: 'col', text: h }))));
    const table = el('table', { class: 'health-table' }, caption, head, body);
    section.append(el('div', { class: 'table-scroll' }, table));
    return { caption, body, table, name };
  });
  section.insertBefore(banner, section.children[1] || null);

  function show(index, doc) {
    const t = tables[index];
    const encoder = doc.stale ? '' : ` · encoder ${rate(doc.encoder.bitrate)}, ${doc.encoder.fps.toFixed(1)} fps`;
    t.caption.textContent = t.name + encoder;
    t.table.classList.toggle('stale', doc.stale);
    t.body.replaceChildren(...(doc.outputs.length
      ? doc.outputs.map(row)
      : [el('tr', {}, el('td', { colspan: '6', class: 'muted', text: 'No output is running.' }))]));
  }

  async function refresh() {
    try {
      const docs = await Promise.all([0, 1].map((i) => Enc.getDoc('outputs-status', i)));
      docs.forEach((doc, i) => show(i, doc));
      const notes = [];
      if (docs.some((d) => d.stale)) {
        notes.push('The media process is not reporting: the figures below are out of date.');
      }
      docs.forEach((d, i) => d.outputs.filter((o) => o.state === 'failed').forEach((o) => {
        notes.push(`${kStreams[i]}: ${o.protocol} ${o.address} failed to start${o.stateText ? ' (' + o.stateText + ')' : ''}.`);
      }));
      banner.textContent = notes.join(' ');
      banner.hidden = notes.length === 0;
    } catch (e) {
      // The dashboard's own line reports a device that does not answer.
    } finally {
      setTimeout(refresh, kRefreshMs);
    }
  }

  refresh();
})();
