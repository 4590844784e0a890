'use strict';
// Per stream: the publishing outputs (the protocol document), its SRT output (the srt
// document), its RTMP push (the rtmp document), and the local video output.
(() => {
  const { $ } = Enc;
  const stream = Enc.streamSwitch($('#main'), () => { protocol.refresh(); srt.refresh(); rtmp.refresh(); });

  // A port counts only while its output is on; the device puts its default in place of 0.
  const port = (key, enabledKey) => ({
    key, label: 'Port', kind: 'int', min: 0, max: Enc.deviceLimits('protocol', key, stream).max,
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
      { legend: 'Other services', fields: [on('onvifEnabled', 'ONVIF on'), on('iotEnabled', 'Cloud management (IoT) on')] },
    ],
  });

  // The protocol document carries the RTMP keys too: after a save of either form the other
  // one reads them again, so that neither sends back values the other has just replaced.
  protocol.opts.afterSave = () => rtmp.refresh();

  // SRT and RTMP: the same rules as the device's (SettingsCheck::srt, ::rtmpAddress).
  const printable = (v) => /^[\x20-\x7e]*$/.test(v);
  const isHostName = (v) => {
    const labels = v.split('.');
    return v.length <= 253 && labels.every((l) => /^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$/.test(l)) &&
      !/^\d+$/.test(labels[labels.length - 1]);
  };
  const calling = (all) => all.enabled === 1 && all.mode === 'caller';
  const passphrase = {
    key: 'passphrase', label: 'Passphrase', kind: 'password', maxLength: 79, writeOnly: true,
    hint: '10 to 79 characters; encrypts the stream. Leave empty to keep the stored one.',
    check: (v, all) => {
      if (v !== '' && all.passphraseClear) return 'Type a new passphrase or remove the stored one, not both.';
      return v === '' || (v.length >= 10 && v.length <= 79 && printable(v))
        ? '' : 'Use 10 to 79 printable ASCII characters.';
    },
  };
  const srt = new EncForms.SettingsForm({
    form: $('#srt-form'),
    doc: 'srt',
    index: stream,
    groups: [{ legend: 'SRT', fields: [
      { key: 'enabled', label: 'SRT on', kind: 'check' },
      { key: 'mode', label: 'Mode', kind: 'select',
        options: [['listener', 'Listener: receivers call the device'], ['caller', 'Caller: the device calls a receiver']] },
      { key: 'port', label: 'Listener port', kind: 'int', min: 1, max: 65535 },
      { key: 'callerAddr', label: 'Receiver address (caller)', kind: 'text', maxLength: 253,
        hint: 'An IPv4 address or host name.',
        check: (v, all) => {
          if (v === '') return calling(all) ? 'A caller needs the receiver\'s address.' : '';
          return Enc.isIPv4(v) || isHostName(v) ? '' : 'Enter an IPv4 address or a host name (letters, digits, "-" and ".").';
        } },
      { key: 'callerPort', label: 'Receiver port (caller)', kind: 'int', min: 0, max: 65535,
        check: (v, all) => (calling(all) && v === 0 ? 'A caller needs the receiver\'s port, 1 to 65535.' : '') },
      { key: 'latency', label: 'Latency', kind: 'int', min: 20, max: 8000, unit: 'ms' },
      passphrase,
      { key: 'passphraseClear', label: 'Remove the stored passphrase', kind: 'check', writeOnly: true },
      { key: 'keyLength', label: 'Encryption', kind: 'select', numeric: true,
        options: [[16, 'AES-128'], [24, 'AES-192'], [32, 'AES-256']] },
      { key: 'streamId', label: 'Stream ID', kind: 'text', maxLength: 512, hint: 'Optional; up to 512 characters.',
        check: (v) => (printable(v) ? '' : 'Use printable ASCII characters only.') },
    ] }],
    // The device never shows the passphrase, only whether one is set.
    fromDoc: (doc) => Object.assign({}, doc, { passphrase: '', passphraseClear: 0 }),
    onLoaded: (doc) => {
      passphrase.input.placeholder = doc.passphraseSet ? 'Set (leave empty to keep it)' : 'Not set';
    },
    // An empty passphrase field keeps the stored one: the key is sent only to change it.
    toPayload: (sent) => {
      const payload = {};
      for (const key of ['enabled', 'mode', 'port', 'callerAddr', 'callerPort', 'latency', 'keyLength', 'streamId']) {
        payload[key] = sent[key];
      }
      if (sent.passphraseClear) payload.passphrase = '';
      else if (sent.passphrase !== '') payload.passphrase = sent.passphrase;
      return payload;
    },
  });

  // RTMP push ("/api/rtmp"): the password is write-only, as the SRT passphrase is.
  const rtmpUrl = /^rtmps?:\/\/([^\/\s@]*@)?([^\/\s:@]+)(:(\d{1,5}))?\/\S+$/;
  const rtmpAddress = (v, all) => {
    if (v === '') return all.rtmpEnabled ? 'A push needs the server\'s address or URL.' : '';
    const url = rtmpUrl.exec(v);
    if (url) {
      const host = url[2];
      const p = url[4] === undefined ? 1935 : Number(url[4]);
      return (Enc.isIPv4(host) || isHostName(host)) && p >= 1 && p <= 65535
        ? '' : 'The URL needs a valid host and a port from 1 to 65535.';
    }
    return Enc.isIPv4(v) || isHostName(v)
      ? '' : 'Enter rtmp://server/app/stream, rtmps://..., an IPv4 address or a host name.';
  };
  const password = {
    key: 'rtmpPassword', label: 'Password', kind: 'password', maxLength: 40, writeOnly: true,
    hint: 'Leave empty to keep the stored one.',
    check: (v, all) => (v !== '' && all.passwordClear ? 'Type a new password or remove the stored one, not both.' : ''),
  };
  const rtmp = new EncForms.SettingsForm({
    form: $('#rtmp-form'),
    doc: 'rtmp',
    index: stream,
    groups: [{ legend: 'RTMP push', fields: [
      on('rtmpEnabled', 'RTMP push on'),
      { key: 'rtmpAddr', label: 'Server address or URL', kind: 'text', maxLength: 160,
        hint: 'rtmp://server/live/stream (or rtmps://), or a server address with the port below.',
        check: rtmpAddress },
      port('rtmpPort', 'rtmpEnabled'),
      { key: 'rtmpUser', label: 'User name', kind: 'text', maxLength: 40 },
      password,
      { key: 'passwordClear', label: 'Remove the stored password', kind: 'check', writeOnly: true },
    ] }],
    fromDoc: (doc) => Object.assign({}, doc, { rtmpPassword: '', passwordClear: 0 }),
    onLoaded: (doc) => {
      password.input.placeholder = doc.passwordSet ? 'Set (leave empty to keep it)' : 'Not set';
      // RTMP carries H.264 only: an H.265 stream is not pushed.
      Enc.getDoc('video', stream()).then((video) => {
        $('#rtmp-codec').hidden = video.codec !== 'H.265';
      }).catch(() => { $('#rtmp-codec').hidden = true; });
    },
    // An empty password field keeps the stored one: the key is sent only to change it.
    toPayload: (sent) => {
      const payload = {};
      for (const key of ['rtmpEnabled', 'rtmpAddr', 'rtmpPort', 'rtmpUser']) payload[key] = sent[key];
      if (sent.passwordClear) payload.rtmpPassword = '';
      else if (sent.rtmpPassword !== '') payload.rtmpPassword = sent.rtmpPassword;
      return payload;
    },
    afterSave: () => protocol.refresh(),
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
  srt.refresh();
  rtmp.refresh();
  output.refresh();
})();
