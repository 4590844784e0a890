'use strict';
// Shared pieces of the device's web pages: requests to the device's "/api" documents, the
// page frame, settings forms built from a field list, confirmations, copying and uploads.
// The device authenticates every request with HTTP digest; the browser itself asks for the
// credentials and sends them, so no page handles passwords except the password change.

const Enc = (() => {
  // A request without an answer for this long counts as "the device is not answering".
  const kTimeoutMs = 8000;

  const kPages = [
    ['index.html', 'Dashboard'],
    ['video.html', 'Video'],
    ['audio.html', 'Audio'],
    ['picture.html', 'Picture & overlays'],
    ['outputs.html', 'Outputs'],
    ['network.html', 'Network'],
    ['time.html', 'Time'],
    ['system.html', 'System'],
  ];

  // ---- small DOM helpers ----

  function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attrs || {})) {
      if (value === undefined || value === null || value === false) continue;
      if (name === 'text') node.textContent = value;
      else if (name === 'class') node.className = value;
      else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
      else node.setAttribute(name, value === true ? '' : String(value));
    }
    for (const child of children.flat()) {
      if (child === null || child === undefined || child === false) continue;
      node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
  }

  const $ = (selector, root) => (root || document).querySelector(selector);

  function clock(date) {
    return (date || new Date()).toLocaleTimeString([], { hour12: false });
  }

  // ---- connection state: one banner on every page ----

  let downSince = null;

  function markDown() {
    if (downSince === null) downSince = new Date();
    const banner = $('#connection');
    if (!banner) return;
    banner.textContent = `The device is not answering (no reply since ${clock(downSince)}). ` +
      'Check its power and network; this page keeps trying.';
    banner.hidden = false;
  }

  function markUp() {
    downSince = null;
    const banner = $('#connection');
    if (banner) banner.hidden = true;
  }

  function isDown() {
    return downSince !== null;
  }

  // ---- requests ----

  class DeviceError extends Error {
    constructor(message, status) {
      super(message);
      this.status = status;
    }
  }

  async function request(url, init, timeoutMs) {
    const abort = new AbortController();
    const timer = setTimeout(() => abort.abort(), timeoutMs || kTimeoutMs);
    try {
      const reply = await fetch(url, Object.assign({ cache: 'no-store', credentials: 'same-origin',
                                                     signal: abort.signal }, init));
      markUp();
      return reply;
    } catch (e) {
      markDown();
      throw new DeviceError('The device did not answer.', 0);
    } finally {
      clearTimeout(timer);
    }
  }

  function apiUrl(name, index) {
    return '/api/' + name + (index === undefined || index === null ? '' : '?index=' + index);
  }

  // One document of the device, parsed.
  async function getDoc(name, index) {
    const reply = await request(apiUrl(name, index));
    const text = await reply.text();
    if (!reply.ok) throw new DeviceError(`The device could not read "${name}" (HTTP ${reply.status}).`, reply.status);
    try {
      return JSON.parse(text);
    } catch (e) {
      throw new DeviceError(`The device sent an unreadable "${name}" document.`, reply.status);
    }
  }

  // Sends a whole document: the device takes missing keys as empty or zero, never as
  // "unchanged", so callers always send every key they read.
  async function postDoc(name, index, doc) {
    const reply = await request(apiUrl(name, index), {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(doc),
    });
    const text = await reply.text();
    if (!reply.ok) {
      // Documents the device checks name the refused value: {"error":"port must be ..."}.
      let reason = '';
      try { reason = JSON.parse(text).error || ''; } catch (e) { reason = ''; }
      throw new DeviceError(`The device refused the change (HTTP ${reply.status})${reason ? ': ' + reason : ''}.`,
        reply.status);
    }
    return text;
  }

  // ---- the device's own limits ----

  // GET /api/limits, read once per page: {document: {key: {min, max: [per instance], aboveInput}}}.
  let limitsDoc = null;
  let limitsRead = null;
  function loadLimits() {
    if (!limitsRead) {
      limitsRead = getDoc('limits').then((doc) => { limitsDoc = doc; return doc; })
        .catch((e) => { limitsRead = null; throw e; });
    }
    return limitsRead;
  }

  // { min, max } for a form field, as functions over the limits document (undefined until it
  // is read). instance() picks the stream or overlay; inputFps() gives the input's rate for a
  // limit that follows it (unknown: the other instance's limit).
  function deviceLimits(doc, key, instance, inputFps) {
    const row = () => (limitsDoc && limitsDoc[doc] ? limitsDoc[doc][key] : undefined);
    return {
      min: () => (row() ? row().min : undefined),
      max: () => {
        const r = row();
        if (!r) return undefined;
        const i = instance ? instance() : 0;
        if (r.max[i] !== null) return r.max[i];
        const fps = inputFps ? inputFps() : null;
        return fps !== null && fps !== undefined ? fps + r.aboveInput : r.max[1 - i];
      },
    };
  }

  // A URL-encoded form (the password change).
  async function postForm(path, values) {
    const reply = await request(path, {
      method: 'POST',
      headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      body: new URLSearchParams(values).toString(),
    });
    if (!reply.ok) throw new DeviceError(`The device refused the request (HTTP ${reply.status}).`, reply.status);
    return reply.text();
  }

  // Uploads one file to "/upload" under the given name; onProgress(fraction) follows the
  // upload. Resolves with {status, text}; rejects when the connection breaks.
  function upload(file, name, onProgress, onSent) {
    return new Promise((resolve, reject) => {
      const form = new FormData();
      form.append('file', file, name);
      const xhr = new XMLHttpRequest();
      xhr.open('POST', '/upload');
      xhr.upload.onprogress = (e) => { if (e.lengthComputable && onProgress) onProgress(e.loaded / e.total); };
      xhr.upload.onload = () => { if (onSent) onSent(); };
      xhr.onload = () => { markUp(); resolve({ status: xhr.status, text: xhr.responseText }); };
      xhr.onerror = () => reject(new DeviceError('The connection to the device broke during the upload.', 0));
      xhr.send(form);
    });
  }

  // ---- page frame ----

  function frame() {
    const nav = $('#nav');
    const here = location.pathname.split('/').pop() || 'index.html';
    if (nav) {
      const list = el('ul');
      for (const [href, label] of kPages) {
        list.append(el('li', {}, el('a', { href, 'aria-current': href === here ? 'page' : null, text: label })));
      }
      nav.append(list);
    }
  }

  // The stream selector (main/sub) of the per-stream pages; the choice stays in the URL
  // ("?stream=1") so a reload or a bookmark keeps it.
  function streamSwitch(container, onChange) {
    const params = new URLSearchParams(location.search);
    let current = params.get('stream') === '1' ? 1 : 0;
    const box = el('fieldset', { class: 'stream-switch card' }, el('legend', { text: 'Stream' }));
    for (const [value, label] of [[0, 'Main stream'], [1, 'Sub stream']]) {
      box.append(el('label', {},
        el('input', { type: 'radio', name: 'stream', value, checked: value === current,
                      onchange: () => {
                        current = value;
                        params.set('stream', String(value));
                        history.replaceState(null, '', '?' + params.toString());
                        onChange(value);
                      } }),
        label));
    }
    const heading = container.querySelector('h1');
    if (heading) heading.after(box);
    else container.prepend(box);
    return () => current;
  }

  // ---- messages ----

  function setStatus(node, kind, text) {
    node.className = 'status ' + kind;
    node.setAttribute('role', kind === 'error' || kind === 'warn' ? 'alert' : 'status');
    node.textContent = text;
  }

  // A modal confirmation; resolves true only when the user confirms.
  function confirmAction(title, text, confirmLabel, danger) {
    return new Promise((resolve) => {
      const no = el('button', { type: 'button', class: 'secondary', text: 'Cancel' });
      const yes = el('button', { type: 'button', class: danger ? 'danger' : '', text: confirmLabel });
      const dialog = el('dialog', { 'aria-labelledby': 'confirm-title', 'aria-describedby': 'confirm-text' },
        el('h2', { id: 'confirm-title', text: title }),
        el('p', { id: 'confirm-text', text }),
        el('div', { class: 'actions' }, no, yes));
      let answer = false;
      no.addEventListener('click', () => dialog.close());
      yes.addEventListener('click', () => { answer = true; dialog.close(); });
      dialog.addEventListener('close', () => { dialog.remove(); resolve(answer); });
      document.body.append(dialog);
      dialog.showModal();
      no.focus();
    });
  }

  // A read-only text with a "Copy" button. navigator.clipboard needs a secure context,
  // which a device on the LAN rarely is, so the selection copy is the fallback.
  function copyField(id, label, value) {
    const input = el('input', { id, type: 'text', readonly: true, value: value || '' });
    const button = el('button', {
      type: 'button', class: 'secondary', text: 'Copy', 'aria-label': 'Copy ' + label,
      onclick: async () => {
        let done = false;
        if (navigator.clipboard && window.isSecureContext) {
          try { await navigator.clipboard.writeText(input.value); done = true; } catch (e) { done = false; }
        }
        if (!done) {
          input.select();
          done = document.execCommand && document.execCommand('copy');
        }
        button.textContent = done ? 'Copied' : 'Select and copy';
        setTimeout(() => { button.textContent = 'Copy'; }, 2000);
      },
    });
    return { row: el('div', { class: 'copy-row' }, input, button), input };
  }

  // ---- value checks ----

  function isIPv4(text) {
    const parts = String(text).split('.');
    return parts.length === 4 && parts.every((p) => /^\d{1,3}$/.test(p) && Number(p) <= 255);
  }

  // Characters that would break a line of the settings file.
  const hasControl = (text) => /[\u0000-\u001f\u007f]/.test(text);

  return {
    el, $, clock, request, getDoc, postDoc, postForm, upload, frame, streamSwitch, setStatus, loadLimits, deviceLimits,
    confirmAction, copyField, isIPv4, hasControl, isDown, markDown, DeviceError,
  };
})();

document.addEventListener('DOMContentLoaded', Enc.frame);
