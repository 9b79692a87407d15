// The files that the page's tables choose, made once for all three
// engines: the cases both tools share, by cases.sh, and the page's own
// large ones, made sparse.  INPUTS/page-made says that they are whole.
// TOVRIN_FW, EXAMPLES and INPUTS come from CTest.
//
//   node tests/page-inputs.mjs
import {execFileSync} from 'node:child_process';
import {closeSync, existsSync, mkdirSync, openSync, readFileSync, rmSync,
	truncateSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';

import {solid7z} from './solid7z.mjs';

const {EXAMPLES, INPUTS} = process.env;
const at = (name) => join(INPUTS, name);

execFileSync('sh', [new URL('cases.sh', import.meta.url).pathname, INPUTS],
	{stdio: 'inherit'});
if (!existsSync(at('page-made'))) {
	const sized = (name, size) => {
		closeSync(openSync(at(name), 'a'));
		truncateSync(at(name), size);
	};
	// The driver last in one stored block of 3 GB: 7-Zip reads it all.
	const sample = readFileSync(join(EXAMPLES, 'sample-driver.sys'));
	solid7z(at('solid.7z'), [{name: 'DATA.BIN', size: 3 * 2 ** 30},
		{name: 'Driver/WinXP/CnxEtU.sys', size: sample.length, bytes: sample}]);
	sized('huge', 3 * 2 ** 30);
	// A driver of 5 GB of zeros, which unpacked would take the memory.
	rmSync(at('bomb'), {recursive: true, force: true});
	mkdirSync(at('bomb'));
	sized('bomb/CnxEtU.sys', 5 * 2 ** 30);
	execFileSync('bsdtar', ['-a', '-cf', 'bomb.zip', '-C', 'bomb', '.'],
		{cwd: INPUTS});
	rmSync(at('bomb'), {recursive: true});
	writeFileSync(at('page-made'), '');
}
