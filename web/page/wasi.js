// The few WASI calls fenk.wasm imports, answered for a module that has no
// files, no arguments and no environment: what it writes to standard
// output or error goes to `log` line by line; the clock is the page's.
const ERRNO_SUCCESS = 0;
const ERRNO_BADF = 8;
const ERRNO_NOSYS = 52;

export function wasiImports(memoryOf, log = () => {}) {
  let pending = '';
  const view = () => new DataView(memoryOf().buffer);
  const bytes = () => new Uint8Array(memoryOf().buffer);
  const now = () => (typeof performance !== 'undefined' ? performance.now() : Date.now());
  const calls = {
    environ_sizes_get(countAt, sizeAt) {
      view().setUint32(countAt, 0, true);
      view().setUint32(sizeAt, 0, true);
      return ERRNO_SUCCESS;
    },
    environ_get() { return ERRNO_SUCCESS; },
    clock_time_get(id, precision, timeAt) {
      view().setBigUint64(timeAt, BigInt(Math.round(now() * 1e6)), true);
      return ERRNO_SUCCESS;
    },
    fd_write(fd, iovs, iovCount, writtenAt) {
      if (fd !== 1 && fd !== 2) return ERRNO_BADF;
      let written = 0;
      for (let k = 0; k < iovCount; ++k) {
        const base = view().getUint32(iovs + 8 * k, true);
        const length = view().getUint32(iovs + 8 * k + 4, true);
        for (const byte of bytes().subarray(base, base + length)) pending += String.fromCharCode(byte);
        written += length;
      }
      const lines = pending.split('\n');
      pending = lines.pop();
      for (const line of lines) log(line);
      view().setUint32(writtenAt, written, true);
      return ERRNO_SUCCESS;
    },
    // No preopened folders: the module opens no files.
    fd_prestat_get() { return ERRNO_BADF; },
    fd_fdstat_get() { return ERRNO_BADF; },
    proc_exit(code) { throw new Error(`fenk.wasm ended with status ${code}`); },
  };
  const refused = () => ERRNO_NOSYS;
  return {
    wasi_snapshot_preview1: new Proxy(calls, {
      get: (target, name) => (name in target ? target[name] : refused),
    }),
  };
}
