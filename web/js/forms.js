'use strict';
// Settings forms built from a field list. A form reads one "/api" document, shows it,
// checks every value against the limits the device applies before anything is sent, sends
// the whole document back and then reads it again, so that the form always shows what the
// device actually stored (and says which values the device changed).
//
// A field: { key, label, kind, ... }
//   kind     'int' | 'text' | 'password' | 'ipv4' | 'select' | 'check' | 'color' | 'range' | 'info'
//   min, max numbers or functions (limits that depend on the device's state; Enc.deviceLimits
//            gives the device's own from "/api/limits")
//   unit, hint (text or function), options ([value, label] pairs or a function), numeric
//   flag     for 'check': 'bool' sends true/false, otherwise 1/0; invert shows the opposite
//   optional for 'ipv4': may be left empty; required, maxLength for texts
//   writeOnly the device never shows the value back (a secret, a one-off action): left out
//            of the read-back report
//   check(value, values) extra rule: returns a message, or '' when the value is fine

const EncForms = (() => {
  const { el } = Enc;
  // The device prints every document into 1024 bytes; a longer one would come back cut.
  const kMaxDocBytes = 1023;
  const limit = (v) => (typeof v === 'function' ? v() : v);

  class SettingsForm {
    // opts: { form, doc, index(), groups: [{legend, fields}] or fields, fromDoc, toPayload,
    //         confirm(values) -> Promise<bool>, onLoaded(doc), afterSave(), saveLabel }
    constructor(opts) {
      this.opts = opts;
      this.form = opts.form;
      this.base = null;
      this.fields = [];
      this.form.noValidate = true;
      const groups = opts.groups || [{ fields: opts.fields }];
      for (const group of groups) {
        const box = el('div', { class: 'fields' });
        for (const field of group.fields) {
          field.fullName = group.legend ? `${group.legend}: ${field.label}` : field.label;
          box.append(this.render(field));
        }
        this.form.append(group.legend ? el('fieldset', {}, el('legend', { text: group.legend }), box) : box);
      }
      this.button = el('button', { type: 'submit', text: opts.saveLabel || 'Save' });
      this.status = el('p', { class: 'status', 'aria-live': 'polite' });
      this.form.append(el('div', { class: 'actions' }, this.button), this.status);
      this.form.addEventListener('submit', (e) => { e.preventDefault(); this.save(); });
    }

    id(field) {
      return `${this.form.id}-${field.key}`;
    }

    render(field) {
      const id = this.id(field);
      this.fields.push(field);
      const hintId = id + '-hint';
      const errId = id + '-error';
      field.hintNode = el('p', { class: 'hint', id: hintId });
      field.errorNode = el('p', { class: 'error', id: errId, hidden: true });
      const described = `${hintId} ${errId}`;
      let input;
      switch (field.kind) {
        case 'select':
          input = el('select', { id, name: field.key, 'aria-describedby': described });
          break;
        case 'check':
          input = el('input', { id, name: field.key, type: 'checkbox', 'aria-describedby': described });
          field.input = input;
          return el('div', { class: 'field check' }, el('label', {}, input, field.label), field.hintNode, field.errorNode);
        case 'color':
          input = el('input', { id, name: field.key, type: 'color', 'aria-describedby': described });
          break;
        case 'range':
          input = el('input', { id, name: field.key, type: 'range', min: field.min, max: field.max, step: 1,
                                'aria-describedby': described });
          field.output = el('output', { for: id });
          input.addEventListener('input', () => { field.output.textContent = input.value; });
          break;
        case 'int':
          input = el('input', { id, name: field.key, type: 'number', step: 1, inputmode: 'numeric',
                                'aria-describedby': described });
          break;
        default:
          input = el('input', { id, name: field.key, type: field.kind === 'password' ? 'password' : 'text',
                                autocomplete: field.kind === 'password' ? 'new-password' : 'off',
                                spellcheck: 'false', 'aria-describedby': described });
          if (field.maxLength) input.maxLength = field.maxLength;
      }
      if (field.kind === 'info') input.readOnly = true;
      field.input = input;
      input.addEventListener('change', () => this.clearError(field));
      const control = el('div', { class: 'control' }, input, field.output, field.unit ? el('span', { class: 'unit', text: field.unit }) : null);
      return el('div', { class: 'field' }, el('label', { for: id, text: field.label }), control, field.hintNode, field.errorNode);
    }

    // Hints show the range the device keeps; limits may change with the device's state.
    refreshHints() {
      for (const f of this.fields) {
        const min = limit(f.min);
        const max = limit(f.max);
        let text = typeof f.hint === 'function' ? f.hint() : (f.hint || '');
        if (f.kind === 'int' && min !== undefined && max !== undefined) {
          text = `${min} to ${max}${f.unit ? ' ' + f.unit : ''}` + (text ? '. ' + text : '');
          f.input.min = min;
          f.input.max = max;
        }
        f.hintNode.textContent = text;
        f.hintNode.hidden = !text;
      }
    }

    fillOptions(field, value) {
      const options = typeof field.options === 'function' ? field.options() : field.options;
      field.input.replaceChildren();
      let found = false;
      for (const [v, label] of options) {
        found = found || String(v) === String(value);
        field.input.append(el('option', { value: v, text: label }));
      }
      // A value the device holds but the list does not know stays selectable as it is.
      if (!found && value !== undefined && value !== null) {
        field.input.append(el('option', { value, text: `${value} (as stored)` }));
      }
      field.input.value = String(value);
    }

    fill(values) {
      for (const f of this.fields) {
        const v = values[f.key];
        switch (f.kind) {
          case 'select': this.fillOptions(f, v); break;
          case 'check': f.input.checked = f.invert ? !truthy(v) : truthy(v); break;
          case 'color': f.input.value = '#' + ((Number(v) >>> 0) & 0xffffff).toString(16).padStart(6, '0'); break;
          case 'range': f.input.value = v; f.output.textContent = String(v); break;
          default: f.input.value = v === undefined || v === null ? '' : String(v);
        }
        this.clearError(f);
      }
      this.flat = values;
      this.refreshHints();
    }

    // The form's values, typed as the device's document wants them.
    values() {
      const out = {};
      for (const f of this.fields) {
        const raw = f.input.value;
        switch (f.kind) {
          case 'int': out[f.key] = /^\s*-?\d+\s*$/.test(raw) ? parseInt(raw, 10) : raw.trim(); break;
          case 'range': out[f.key] = parseInt(raw, 10); break;
          case 'select': out[f.key] = f.numeric ? Number(raw) : raw; break;
          case 'check': {
            const on = f.invert ? !f.input.checked : f.input.checked;
            out[f.key] = f.flag === 'bool' ? on : (on ? 1 : 0);
            break;
          }
          case 'color': {
            // Bits above the 24 colour bits are kept as the device had them.
            const high = (Number(this.flat && this.flat[f.key]) >>> 0) & 0xff000000;
            out[f.key] = (high | parseInt(raw.slice(1), 16)) >>> 0;
            break;
          }
          default: out[f.key] = raw.trim();
        }
      }
      return out;
    }

    problem(f, v, values) {
      if (f.kind === 'info') return '';
      if (f.kind === 'int') {
        if (typeof v !== 'number') return 'Enter a whole number.';
        const min = limit(f.min);
        const max = limit(f.max);
        if ((min !== undefined && v < min) || (max !== undefined && v > max)) {
          return `Enter a number from ${min} to ${max}.`;
        }
      }
      if (f.kind === 'ipv4' && !(f.optional && v === '') && !Enc.isIPv4(v)) {
        return 'Enter an IPv4 address such as 192.168.1.10.';
      }
      if (f.kind === 'text' || f.kind === 'password') {
        if (f.required && v === '') return 'This field is required.';
        if (Enc.hasControl(v)) return 'Line breaks and control characters are not allowed.';
      }
      return f.check ? f.check(v, values) : '';
    }

    clearError(f) {
      f.input.removeAttribute('aria-invalid');
      f.errorNode.hidden = true;
      f.errorNode.textContent = '';
    }

    // Marks every field the device would not keep; true when all are fine.
    validate(values) {
      let first = null;
      for (const f of this.fields) {
        const message = this.problem(f, values[f.key], values);
        if (message) {
          f.input.setAttribute('aria-invalid', 'true');
          f.errorNode.textContent = message;
          f.errorNode.hidden = false;
          first = first || f;
        } else {
          this.clearError(f);
        }
      }
      if (first) {
        const count = this.fields.filter((f) => f.input.getAttribute('aria-invalid')).length;
        Enc.setStatus(this.status, 'error', `Not saved: ${count === 1 ? 'one value needs' : count + ' values need'} correcting.`);
        first.input.focus();
        return false;
      }
      return true;
    }

    index() {
      return this.opts.index ? this.opts.index() : undefined;
    }

    async load() {
      await Enc.loadLimits();  // the fields' limits are the device's own
      const doc = await Enc.getDoc(this.opts.doc, this.index());
      this.base = doc;
      if (this.opts.onLoaded) this.opts.onLoaded(doc);
      this.fill(this.opts.fromDoc ? this.opts.fromDoc(doc) : doc);
      return doc;
    }

    // Loads and reports a failure in the form's own status line.
    async refresh() {
      try {
        await this.load();
        return true;
      } catch (e) {
        Enc.setStatus(this.status, 'error', e.message);
        return false;
      }
    }

    async save() {
      if (!this.base) {
        if (!(await this.refresh())) return;
        Enc.setStatus(this.status, 'warn', 'The form was reloaded from the device; check it and save again.');
        return;
      }
      const sent = this.values();
      if (!this.validate(sent)) return;
      if (this.opts.confirm && !(await this.opts.confirm(sent))) return;
      const payload = this.opts.toPayload ? this.opts.toPayload(sent, this.base) : Object.assign({}, this.base, sent);
      const excess = docBytes(payload) - kMaxDocBytes;
      if (excess > 0) {
        Enc.setStatus(this.status, 'error', `Not saved: the texts are too long for the device; shorten them by ${excess} characters in all.`);
        return;
      }
      this.button.disabled = true;
      Enc.setStatus(this.status, 'busy', 'Saving…');
      try {
        await Enc.postDoc(this.opts.doc, this.index(), payload);
      } catch (e) {
        Enc.setStatus(this.status, 'error', 'Not saved: ' + e.message);
        this.button.disabled = false;
        return;
      }
      try {
        await this.load();
      } catch (e) {
        Enc.setStatus(this.status, 'warn', 'Saved, but the stored values could not be read back: ' + e.message);
        this.button.disabled = false;
        return;
      }
      this.button.disabled = false;
      const stored = this.values();
      const changed = this.fields.filter((f) => f.kind !== 'info' && !f.writeOnly && String(sent[f.key]) !== String(stored[f.key]));
      if (changed.length) {
        const list = changed.map((f) => `${f.fullName} ${shown(f, sent[f.key])} → ${shown(f, stored[f.key])}`).join('; ');
        Enc.setStatus(this.status, 'warn', `Saved at ${Enc.clock()}, but the device adjusted: ${list}.`);
      } else {
        Enc.setStatus(this.status, 'ok', `Saved at ${Enc.clock()}. The form shows what the device stored.`);
      }
      if (this.opts.afterSave) this.opts.afterSave();
    }
  }

  // The size of the document as the device prints it: one blank after each comma.
  function docBytes(payload) {
    const json = JSON.stringify(payload);
    return new TextEncoder().encode(json).length + (json.match(/,/g) || []).length;
  }

  function truthy(v) {
    return v === true || (typeof v === 'number' && v !== 0) || v === '1' || v === 'true';
  }

  function shown(f, v) {
    if (f.kind === 'check') return (v === true || v === 1) !== Boolean(f.invert) ? 'on' : 'off';
    if (f.kind === 'password') return '(hidden)';
    return v === '' ? '(empty)' : String(v);
  }

  return { SettingsForm };
})();
