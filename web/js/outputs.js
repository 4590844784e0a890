'use strict';
// Per stream: the publishing outputs (the protocol document), and the local video output.
(() => {
  const { $ } = Enc;
  const stream = Enc.streamSwitch($('#main'), () => { protocol.refresh(); });

  // A port counts only while its output is on; the device puts its default in place of 0.
  const port = (key, enabledKey) => ({
    key, label: 'Port', kind: 'int', min: 0, max: 65535,
    check: (v, all) => (all[enabledKey] && v === 0 ? 'Enter a port from 1 to 65535 while this output is on.' : ''),
  });
  const on = (key, label) => ({ key, label, kind: 'check', flag: 'bool' });
  const path = (key, label) => ({
    key, label, kind: 'text', maxLength: 40,
    check: (v) => (v !== '' && !/^\/[\w.\-/]*$/.test(v) ? 'Start with "/" and use letters, digits, ".", "-" or "_".' : ''),
  });
  const name = (key, label, hint) => ({
    key, label, kind: 'text', maxLength: 40, hint,
    check: (v) => (/^[\w.\-]*$/.test(v) ? '' : 'Use letters, digits, ".", "-" or "_".'),
  });
  const multicast = (v) => {
    const first = Number(String(v).split('.')[0]);
    return first >= 224 && first <= 239 ? '' : 'A multicast address lies between 224.0.0.0 and 239.255.255.255.';
  };

  const protocol = new EncForms.SettingsForm({
    form: $('#protocol-form'),
    doc: 'protocol',
    index: stream,
    groups: [
      { legend: 'RTSP', fields: [on('rtspEnabled', 'RTSP on'), port('rtspPort', 'rtspEnabled'), path('rtspName', 'Path')] },
      { legend: 'HTTP', fields: [on('httpEnabled', 'HTTP on'), port('httpPort', 'httpEnabled'), path('httpName', 'Path')] },
      { legend: 'HTTP-FLV', fields: [on('flvEnabled', 'HTTP-FLV on'), port('flvPort', 'flvEnabled'),
        name('flvAddr', 'Stream name', 'Played as http://device:port/name.flv')] },
      { legend: 'HLS', fields: [on('hlsEnabled', 'HLS on'), port('hlsPort', 'hlsEnabled'),
        name('hlsAddr', 'Stream name', 'Played as http://device:port/name.m3u8')] },
      { legend: 'MPEG-TS over HTTP', fields: [on('tsHttpEnabled', 'TS over HTTP on'), port('tsHttpPort', 'tsHttpEnabled')] },
      { legend: 'MPEG-TS over UDP (unicast)', fields: [on('tsEnabled', 'TS over UDP on'),
        { key: 'tsAddr', label: 'Receiver address', kind: 'ipv4' }, port('tsPort', 'tsEnabled')] },
      { legend: 'Multicast', fields: [on('multicastEnabled', 'Multicast on'),
        { key: 'multicastAddr', label: 'Group address', kind: 'ipv4', check: multicast },
        port('multicastPort', 'multicastEnabled')] },
      { legend: 'RTMP push', fields: [on('rtmpEnabled', 'RTMP push on'),
        { key: 'rtmpAddr', label: 'Server address or URL', kind: 'text', maxLength: 160,
          hint: 'For example rtmp://server/live/stream. H.264 only.' },
        port('rtmpPort', 'rtmpEnabled'),
        { key: 'rtmpUser', label: 'User name', kind: 'text', maxLength: 40 },
        { key: 'rtmpPassword', label: 'Password', kind: 'password', maxLength: 40 }] },
      { legend: 'Other services', fields: [on('onvifEnabled', 'ONVIF on'), on('iotEnabled', 'Cloud management (IoT) on')] },
    ],
  });

  const output = new EncForms.SettingsForm({
    form: $('#output-form'),
    doc: 'output',
    fields: [
      { key: 'videoRes', label: 'Video format', kind: 'text', maxLength: 40,
        hint: 'As the encoder names it, for example 1920x1080P60.' },
      { key: 'audioType', label: 'Audio type', kind: 'int', min: 0, max: 255 },
      { key: 'audioVolume', label: 'Audio volume', kind: 'int', min: 0, max: 100 },
    ],
    onLoaded: (doc) => { $('#output-type').textContent = `Output: ${doc.typeStr || 'unknown'}`; },
  });

  protocol.refresh();
  output.refresh();
})();
