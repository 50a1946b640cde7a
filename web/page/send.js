// "Send to calculator": the open song's .8xp to a TI calculator through
// WebUSB. The link library in the module (link_exports.h) says what to
// write and read, and every failure's words, exactly as fenk-send's; this
// file is its WebUSB transport: one bulk transfer a step.

// True when this browser can reach USB devices (Chrome, Edge, ChromeOS;
// not Firefox or Safari).
export function hasWebUsb(usb = globalThis.navigator?.usb) {
  return Boolean(usb && typeof usb.requestDevice === 'function');
}

// What the page says where it cannot send.
export const kNoWebUsb = 'This browser cannot reach a calculator (it has no WebUSB; Chrome, Edge and ' +
  'ChromeOS have it). Use Download .8xp and send the file with fenk-send, or with TI Connect.';

// The module's link calls, over an engine (fenk-engine.js).
class Link {
  constructor(engine) { this.engine = engine; this.calls = engine.calls; }
  input(bytes) {
    const at = this.calls.fenk_link_input(bytes.length);
    this.engine.memory().set(bytes, at);
    return bytes.length;
  }
  result() {
    const at = this.calls.fenk_link_result();
    const text = new TextDecoder().decode(this.engine.memory().slice(at, at + this.calls.fenk_link_result_length()));
    return JSON.parse(text);
  }
  devices() { this.calls.fenk_link_devices(); return this.result(); }
  start(file, vendorId, productId, now) {
    this.calls.fenk_link_start(this.input(file), vendorId, productId, now);
    return this.result();
  }
  next(now) { this.calls.fenk_link_next(now); return this.result(); }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Sends `programFile` (a .8xp's bytes) to a calculator the user picks in
// the browser's chooser, which lists only the devices the link library
// knows. `progress(sent, total, name, calculator)` is called as the
// calculator acknowledges bytes. Resolves to {ok, message}: "Sent NAME to
// the TI-84 Plus." or why not, in the link library's words where the
// calculator or cable failed.
export async function sendToCalculator(engine, programFile, { usb = globalThis.navigator?.usb,
                                                              progress = () => {},
                                                              now = () => performance.now() } = {}) {
  if (!hasWebUsb(usb)) return { ok: false, message: kNoWebUsb };
  const link = new Link(engine);
  const known = link.devices();
  let device;
  try {
    device = await usb.requestDevice({ filters: known.map(({ vendorId, productId }) => ({ vendorId, productId })) });
  } catch (error) {
    // The chooser closed with nothing picked.
    if (error?.name === 'NotFoundError') return { ok: false, message: 'No calculator was chosen; nothing was sent.' };
    return { ok: false, message: `The browser cannot look for calculators: ${error?.message ?? error}` };
  }
  const info = known.find((d) => d.vendorId === device.vendorId && d.productId === device.productId);
  const name = info?.name ?? 'device';
  const started = link.start(programFile, device.vendorId, device.productId, now());
  if (!started.ok) return { ok: false, message: started.error };
  try {
    await device.open();
    if (device.configuration === null) await device.selectConfiguration(info.configuration);
    await device.claimInterface(info.interface);
  } catch (error) {
    return { ok: false, message: `The browser cannot open the ${name} (${error?.message ?? error}). On Linux ` +
      "it needs Fenk's udev rule; on Windows the WinUSB driver (Zadig gives it); another program may hold it." };
  }
  // WebUSB has no time limit on a read, nor a way to cancel one: a read
  // that outlives its step's time stays pending, and the next read step
  // waits for that one rather than asking again (a second request would
  // lose what the first gets).
  let pending = null;
  try {
    for (;;) {
      const step = link.next(now());
      progress(step.sent ?? 0, step.total ?? started.bytes, started.name, info.calculator);
      if (step.step === 'done') return { ok: true, message: step.message };
      if (step.step === 'failed') return { ok: false, message: step.message };
      if (step.step === 'wait') {
        await sleep(step.ms);
      } else if (step.step === 'write') {
        let ok = false;
        try {
          const sent = await device.transferOut(step.endpoint & 0x0f, new Uint8Array(step.data));
          ok = sent.status === 'ok' && sent.bytesWritten === step.data.length;
        } catch {
          ok = false;
        }
        engine.calls.fenk_link_wrote(ok ? 1 : 0, now());
      } else if (step.step === 'read') {
        pending ??= device.transferIn(step.endpoint & 0x0f, step.max).then(
          (got) => ({ got }), (error) => ({ error }));
        let timer;
        const outcome = await Promise.race([pending, new Promise((resolve) => {
          timer = setTimeout(() => resolve({ late: true }), step.timeout);
        })]);
        clearTimeout(timer);
        if (outcome.late) {
          engine.calls.fenk_link_read_timed_out(now());
          continue;
        }
        pending = null;
        if (outcome.error || outcome.got.status !== 'ok') {
          engine.calls.fenk_link_read_failed(now());
        } else {
          const data = outcome.got.data;
          const bytes = new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
          engine.calls.fenk_link_read(link.input(bytes), now());
        }
      }
    }
  } finally {
    try {
      await device.releaseInterface(info.interface);
      await device.close();
    } catch {
      // Gone already: nothing to let go of.
    }
  }
}
