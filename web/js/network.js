'use strict';
// Wired network and connection type, Wi-Fi and the serial bridge. The device applies network
// settings when it starts, so this page offers the restart at its end.
(() => {
  const { $ } = Enc;

  const isMask = (v) => {
    if (!Enc.isIPv4(v)) return false;
    const bits = v.split('.').reduce((n, p) => n * 256 + Number(p), 0);
    const inverted = (~bits) >>> 0;
    return (inverted & (inverted + 1)) === 0;  // ones, then only zeros
  };

  new EncForms.SettingsForm({
    form: $('#net-form'),
    doc: 'network',
    fields: [
      { key: 'connectionType', label: 'Connect through', kind: 'select', numeric: true,
        options: [[0, 'Wired network'], [1, 'Wi-Fi'], [2, 'LTE modem']] },
      // The device prints dhcp as true/false but reads it as a number (the default flag kind).
      { key: 'dhcp', label: 'Get the address automatically (DHCP)', kind: 'check' },
      { key: 'ip', label: 'Address', kind: 'ipv4' },
      { key: 'mask', label: 'Netmask', kind: 'ipv4', check: (v) => (isMask(v) ? '' : 'Enter a netmask such as 255.255.255.0.') },
      { key: 'gate', label: 'Gateway', kind: 'ipv4' },
      { key: 'dnsMode', label: 'Name servers', kind: 'select', numeric: true,
        options: [[0, 'From DHCP'], [1, 'As entered below']] },
      { key: 'dnsFirst', label: 'First name server', kind: 'ipv4' },
      { key: 'dnsSecond', label: 'Second name server', kind: 'ipv4', optional: true },
      { key: 'mac', label: 'MAC address', kind: 'info' },
    ],
    afterSave: remind,
  }).refresh();

  new EncForms.SettingsForm({
    form: $('#wifi-form'),
    doc: 'wifi',
    fields: [
      { key: 'stateText', label: 'State', kind: 'info' },
      { key: 'essid', label: 'Network name (SSID)', kind: 'text', required: true, maxLength: 32 },
      { key: 'encrypt', label: 'Security', kind: 'select', numeric: true,
        options: [[0, 'None (open network)'], [1, 'WPA/WPA2 personal']] },
      { key: 'key', label: 'Wi-Fi password', kind: 'password', maxLength: 63,
        check: (v, all) => (all.encrypt !== 0 && (v.length < 8 || v.length > 63) ? 'A WPA password has 8 to 63 characters.' : '') },
      { key: 'ip', label: 'Address', kind: 'ipv4', optional: true },
      { key: 'mask', label: 'Netmask', kind: 'ipv4', optional: true },
      { key: 'gate', label: 'Gateway', kind: 'ipv4', optional: true },
    ],
    fromDoc: (doc) => Object.assign({}, doc, { stateText: doc.state ? 'Connected to an access point' : 'Not connected' }),
    toPayload: (values, base) => {
      const doc = Object.assign({}, base, values);
      delete doc.stateText;
      return doc;
    },
    afterSave: remind,
  }).refresh();

  new EncForms.SettingsForm({
    form: $('#serial-form'),
    doc: 'rs485',
    saveLabel: 'Save and restart…',
    fields: [
      { key: 'ip', label: 'Server address', kind: 'ipv4', optional: true },
      { key: 'port', label: 'Server port', kind: 'int', min: 0, max: 65535 },
      { key: 'baudrate', label: 'Baud rate', kind: 'select', numeric: true,
        options: [1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200].map((v) => [v, String(v)]) },
      { key: 'databits', label: 'Data bits', kind: 'select', numeric: true, options: [[5, '5'], [6, '6'], [7, '7'], [8, '8']] },
      { key: 'stopbits', label: 'Stop bits', kind: 'select', numeric: true, options: [[1, '1'], [2, '2']] },
    ],
    confirm: () => Enc.confirmAction('Save the serial bridge?',
      'The device restarts as soon as the serial bridge is saved; the stream stops for about a minute.', 'Save and restart'),
  }).refresh();

  // The security document holds both switches; the form sends back the one it does not show
  // as the device reported it.
  new EncForms.SettingsForm({
    form: $('#lock-form'),
    doc: 'security',
    fields: [
      { key: 'provisionLock', label: 'Lock provisioning: the discovery tool may only search', kind: 'check' },
    ],
  }).refresh();

  function remind() {
    Enc.setStatus($('#net-reboot-status'), 'warn', 'Network settings saved. They take effect after a restart.');
  }

  $('#net-reboot').addEventListener('click', () => EncSystem.restart($('#net-reboot-status')));
})();
