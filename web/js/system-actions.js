'use strict';
// Restarting the device and waiting until it answers again, shared by the Network and
// System pages.
const EncSystem = (() => {
  const kPollMs = 3000;
  // A restart normally takes about a minute; past this the page stops waiting.
  const kGiveUpMs = 10 * 60 * 1000;
  // Without ever seeing the device go away, it counts as back after this long.
  const kRestartMs = 60 * 1000;

  // Polls until the device answers after going away (or after kRestartMs), reporting in node.
  function waitForDevice(node, what) {
    const started = Date.now();
    let wentAway = false;
    const poll = async () => {
      try {
        const info = await Enc.getDoc('sysinfo');
        if (wentAway || Date.now() - started > kRestartMs) {
          const version = (info.softVersion || '').trim();
          Enc.setStatus(node, 'ok', `The device answers again (${Enc.clock()})` + (version ? `; firmware ${version}.` : '.'));
          return;
        }
      } catch (e) {
        wentAway = true;
      }
      if (Date.now() - started > kGiveUpMs) {
        Enc.setStatus(node, 'error', `The device has not answered for ${kGiveUpMs / 60000} minutes after the ${what}. Check its power and network.`);
        return;
      }
      setTimeout(poll, kPollMs);
    };
    setTimeout(poll, kPollMs);
  }

  async function command(node, api, what, busyText) {
    try {
      await Enc.postDoc(api, undefined, {});
    } catch (e) {
      if (e.status !== 0) {
        Enc.setStatus(node, 'error', `The device refused the ${what}: ${e.message}`);
        return;
      }
      // No answer: the device may already be going down.
    }
    Enc.setStatus(node, 'busy', busyText);
    waitForDevice(node, what);
  }

  async function restart(node) {
    if (!(await Enc.confirmAction('Restart the device?',
      'The streams stop and the device cannot be reached for about a minute.', 'Restart', true))) return;
    await command(node, 'reboot', 'restart',
      'The device is restarting and cannot be reached for about a minute. This page shows when it answers again.');
  }

  async function factoryReset(node) {
    if (!(await Enc.confirmAction('Reset to factory settings?',
      'Every setting is lost, including the network address and the web password, and the device restarts. ' +
      'Afterwards it may answer at another address.', 'Reset everything', true))) return;
    await command(node, 'reset', 'factory reset',
      'The device is resetting and restarting. It may come back with its factory address and password.');
  }

  return { restart, factoryReset, waitForDevice };
})();
