// The files that the page's tables choose, made once for all three
// engines: the images as tovrin-fw writes them, packages made with bsdtar,
// and files of every size made sparse.  INPUTS/made says that they are
// whole.  TOVRIN_FW, EXAMPLES and INPUTS come from CTest.
//
//   node tests/page-inputs.mjs
import {execFileSync} from 'node:child_process';
import {closeSync, cpSync, existsSync, mkdirSync, openSync, readFileSync,
	rmSync, symlinkSync, truncateSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';

import {solid7z} from './solid7z.mjs';

const {TOVRIN_FW, EXAMPLES, INPUTS} = process.env;
const at = (name) => join(INPUTS, name);
const sample = join(EXAMPLES, 'sample-driver.sys');
const MAX = 16 << 20;

function make() {
	const changed = readFileSync(sample);
	changed[0x6a0 + 99] ^= 1;
	writeFileSync(at('changed.sys'), changed);
	execFileSync(TOVRIN_FW, [sample, at('image.bin')]);
	execFileSync(TOVRIN_FW, [at('changed.sys'), at('other.bin')]);
	const sized = (name, size, from) => {
		if (from)
			cpSync(from, at(name));
		closeSync(openSync(at(name), 'a'));
		truncateSync(at(name), size);
		return at(name);
	};
	const tree = (name, files) => {
		for (const [path, from] of Object.entries(files)) {
			mkdirSync(join(at(name), path, '..'), {recursive: true});
			if (typeof from === 'object')
				symlinkSync(from.link, join(at(name), path));
			else
				cpSync(from, join(at(name), path));
		}
		execFileSync('bsdtar', ['-a', '-cf', `${name}.zip`, '-C', name, '.'],
			{cwd: INPUTS});
		rmSync(at(name), {recursive: true});
	};
	const c = join(EXAMPLES, 'sample-driver.c');
	tree('same', {'A/CnxEtU.sys': sample, 'B/cnxetu.sys': sample});
	tree('other', {'A/CnxEtU.sys': sample, 'B/CnxEtU.sys': at('changed.sys')});
	tree('three', {'A/CnxEtU.sys': sample, 'B/CnxEtU.sys': sample,
		'C/CnxEtU.sys': at('changed.sys')});
	tree('mixed', {'A/CnxEtU.sys': sample, 'B/CnxEtU.sys': c});
	tree('none', {'Readme.txt': join(EXAMPLES, 'build.sh')});
	tree('nofw', {'Driver/CnxEtU.sys': c});
	tree('link', {'Driver/CnxEtU.sys': {link: '../Readme.txt'}});
	tree('big', {'Noise.bin': sized('noise', 40 << 20), 'Driver/CnxEtU.sys':
		sample});
	// A driver of exactly the bound, and one byte more, in a package and
	// bare; the locator finds the sample's image in the first.
	tree('exact', {'CnxEtU.sys': sized('exact.sys', MAX, sample)});
	tree('over', {'CnxEtU.sys': sized('over.sys', MAX + 1, sample)});
	// Beside one too large: the real driver, and one without firmware.
	tree('beside', {'A/CnxEtU.sys': at('over.sys'), 'B/CnxEtU.sys': sample});
	tree('overnofw', {'A/CnxEtU.sys': at('over.sys'), 'B/CnxEtU.sys': c});
	// Beside the real one, as many too large as are said whole (4), and
	// summed up (5, 8).
	for (const count of [4, 5, 8]) {
		tree(`big${count}`, {'R/CnxEtU.sys': sample, ...Object.fromEntries(
			Array.from({length: count}, (_, i) =>
				[`${i + 1}/CnxEtU.sys`, at('over.sys')]))});
	}
	// Drivers that come to more than one at a time but within a package,
	// more than any package, and one of no whole number of 64 KiB.
	const zeros = sized('z8', 8 << 20);
	tree('roomy', {'A/CnxEtU.sys': zeros, 'B/CnxEtU.sys': zeros,
		'C/CnxEtU.sys': zeros, 'D/CnxEtU.sys': sample});
	tree('heavy', Object.fromEntries([1, 2, 3, 4, 5].map((i) =>
		[`${i}/CnxEtU.sys`, at('exact.sys')])));
	tree('odd', {'CnxEtU.sys': sized('odd.sys', (1 << 20) + 4321, sample)});
	// The driver last in one stored block of 3 GB: 7-Zip reads it all.
	solid7z(at('solid.7z'), [{name: 'DATA.BIN', size: 3 * 2 ** 30},
		{name: 'Driver/WinXP/CnxEtU.sys', size: readFileSync(sample).length,
			bytes: readFileSync(sample)}]);
	sized('huge', 3 * 2 ** 30);
	tree('bomb', {'CnxEtU.sys': sized('zeros', 5 * 2 ** 30)});
	// A package that states less than its driver holds.
	tree('understated', {'CnxEtU.sys': sized('less.sys', 1 << 20, sample)});
	const zip = readFileSync(at('understated.zip'));
	const cd = zip.lastIndexOf(Buffer.from('PK\x01\x02'));
	zip.writeUInt32LE(8704, cd + 24);
	writeFileSync(at('understated.zip'), zip);
	// 10,000 empty drivers and the real one.
	const many = {'Driver/WinXP/CnxEtU.sys': sample};
	writeFileSync(at('empty'), '');
	for (let i = 0; i < 10000; i++)
		many[`Old/${i}/cnxetu.sys`] = at('empty');
	tree('many', many);
	for (const kind of ['zip', 'cab', '7z']) {
		const whole = readFileSync(join(EXAMPLES, 'vendor', `driver.${kind}`));
		writeFileSync(at(`cut.${kind}`),
			whole.subarray(0, Math.floor(whole.length * 0.6)));
	}
	writeFileSync(at('padded.zip'), Buffer.concat([readFileSync(join(EXAMPLES,
		'vendor', 'driver.zip')), Buffer.alloc(4096, 0x55)]));
	// A self-extracting cabinet whose cabinet states 65535 files.
	const setup = readFileSync(join(EXAMPLES, 'vendor', 'setup-cab.exe'));
	setup.writeUInt16LE(0xffff, setup.indexOf('MSCF') + 28);
	writeFileSync(at('bad-setup.exe'), setup);
	for (const name of ['noise', 'zeros', 'less.sys', 'empty', 'z8', 'odd.sys'])
		rmSync(at(name));
	writeFileSync(at('made'), '');
}

if (!existsSync(at('made'))) {
	rmSync(INPUTS, {recursive: true, force: true});
	mkdirSync(INPUTS, {recursive: true});
	make();
}
