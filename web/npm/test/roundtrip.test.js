// The module against the native programs: every file in SMFASM_FILES,
// under the flag sets users list with, lists to the bytes smfdis writes
// (with the same message when the file is malformed), and each listing
// assembles to the bytes smfasm writes. SMFDIS and SMFASM name the programs.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { assemble, list, listBytes } from '../index.js';

const { SMFDIS, SMFASM, SMFASM_FILES } = process.env;
const skip = !SMFDIS || !SMFASM || !SMFASM_FILES ? 'SMFDIS, SMFASM and SMFASM_FILES are not set' : false;

const FLAG_SETS = [
  [[], {}],
  [['-b'], { measures: true }],
  [['-n'], { noteNames: true }],
  [['-v'], { long: true }],
  [['-m'], { packets: true }],
  [['-f1'], { foldWidth: 1 }],
  [['-f20'], { foldWidth: 20 }],
  [['-f40'], { foldWidth: 40 }],
  [['-bnv'], { measures: true, noteNames: true, long: true }],
  [['-bnvm', '-f25'], { measures: true, noteNames: true, long: true, packets: true, foldWidth: 25 }],
];

function run(program, args) {
  return spawnSync(program, args, { stdio: ['ignore', 'pipe', 'pipe'], encoding: 'latin1' });
}

test('the module lists and assembles every file as the programs do', { skip }, async () => {
  const work = mkdtempSync(join(tmpdir(), 'smfasm-node-'));
  try {
    const files = readdirSync(SMFASM_FILES).sort();
    assert.ok(files.length > 0, `no files in ${SMFASM_FILES}`);
    let listed = 0;
    let assembled = 0;
    for (const file of files) {
      const bytes = new Uint8Array(readFileSync(join(SMFASM_FILES, file)));
      for (const [flags, options] of FLAG_SETS) {
        const label = `${file} ${flags.join(' ') || '(no flags)'}`;
        const mtx = join(work, 'a.mtx');
        const mid = join(work, 'b.mid');
        rmSync(mtx, { force: true });
        rmSync(mid, { force: true });

        const native = run(SMFDIS, [...flags, join(SMFASM_FILES, file), mtx]);
        const result = await list(bytes, options);
        const expected = existsSync(mtx) ? readFileSync(mtx) : Buffer.alloc(0);
        assert.ok(Buffer.from(result.text, 'utf8').equals(expected), `${label}: the listing differs`);
        const asBytes = await listBytes(bytes, options);
        assert.ok(Buffer.from(asBytes.bytes).equals(expected), `${label}: the listing's bytes differ`);
        assert.equal(asBytes.ok, result.ok, `${label}: status of listBytes`);
        assert.equal(result.ok, native.status === 0, `${label}: status`);
        // The program's own lines frame the conversion's messages.
        assert.equal(native.stderr, `Writing output to ${mtx} ...  ${result.messages}` +
          (result.ok ? `${expected.length} bytes written.\n` : '') + 'Press <Enter> key to continue . . . ',
        `${label}: messages`);
        ++listed;
        if (!result.ok) continue;

        const packets = options.packets === true;
        const nativeAssembly = run(SMFASM, [...(packets ? ['-m'] : []), mtx, mid]);
        const reassembled = await assemble(result.text, { packets, name: mtx });
        assert.deepEqual(await assemble(asBytes.bytes, { packets, name: mtx }), reassembled, `${label}: from bytes`);
        assert.equal(reassembled.ok, nativeAssembly.status === 0, `${label}: assembly status`);
        if (reassembled.ok) {
          assert.ok(Buffer.from(reassembled.bytes).equals(readFileSync(mid)), `${label}: the assembled file differs`);
          assert.equal(nativeAssembly.stderr, reassembled.text, `${label}: assembly warnings`);
        } else {
          assert.ok(nativeAssembly.stderr.startsWith(reassembled.text), `${label}: assembly messages`);
        }
        ++assembled;
      }
    }
    assert.ok(assembled > 0);
    console.log(`${listed} listings and ${assembled} assemblies the same as the programs'`);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});
