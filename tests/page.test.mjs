// The offline page, opened from disk in headless Chromium as a user opens
// it: a table of files to choose, each with a line the page must show and
// the images it must offer to save, byte for byte what tovrin-fw writes.
// PAGE, TOVRIN_FW, EXAMPLES, NODE_MODULES and CHROMIUM come from CTest.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {createHash, randomBytes} from 'node:crypto';
import {cpSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync}
	from 'node:fs';
import {createServer} from 'node:http';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, before, test} from 'node:test';
import {pathToFileURL} from 'node:url';

const {PAGE, TOVRIN_FW, EXAMPLES, NODE_MODULES, CHROMIUM} = process.env;
const {chromium} =
	createRequire(import.meta.url)(join(NODE_MODULES, 'playwright-core'));

const dir = mkdtempSync(join(tmpdir(), 'page-test-'));
const at = (name) => join(dir, name);
const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');
let browser;

// The images, as tovrin-fw writes them: the sample's, and another one
// from the sample with a byte of its image changed.
function images() {
	const changed = readFileSync(join(EXAMPLES, 'sample-driver.sys'));
	changed[0x6a0 + 99] ^= 1;
	writeFileSync(at('changed.sys'), changed);
	execFileSync(TOVRIN_FW, [join(EXAMPLES, 'sample-driver.sys'), at('image.bin')]);
	execFileSync(TOVRIN_FW, [at('changed.sys'), at('other.bin')]);
}

// Packages made with bsdtar: two drivers with one image, two with
// different ones, none, one whose driver is no driver, and one larger
// than the page reads at a time; and the vendor's packages cut short.
function packages() {
	const tree = (name, files) => {
		for (const [path, from] of Object.entries(files)) {
			mkdirSync(join(at(name), path, '..'), {recursive: true});
			cpSync(from, join(at(name), path));
		}
		execFileSync('bsdtar', ['-a', '-cf', `${name}.zip`, '-C', name, '.'],
			{cwd: dir});
	};
	const sample = join(EXAMPLES, 'sample-driver.sys');
	tree('same', {'A/CnxEtU.sys': sample, 'B/cnxetu.sys': sample});
	tree('other', {'A/CnxEtU.sys': sample, 'B/CnxEtU.sys': at('changed.sys')});
	tree('none', {'Readme.txt': join(EXAMPLES, 'build.sh')});
	tree('nofw', {'Driver/CnxEtU.sys': join(EXAMPLES, 'sample-driver.c')});
	writeFileSync(at('noise'), randomBytes(40 << 20));
	tree('big', {'Noise.bin': at('noise'), 'Driver/CnxEtU.sys': sample});
	for (const kind of ['zip', 'cab', '7z']) {
		const whole = readFileSync(join(EXAMPLES, 'vendor', `driver.${kind}`));
		writeFileSync(at(`cut.${kind}`),
			whole.subarray(0, Math.floor(whole.length * 0.6)));
	}
}

before(async () => {
	images();
	packages();
	browser = await chromium.launch({executablePath: CHROMIUM, args: [
		'--no-sandbox', '--disable-gpu', '--disable-background-networking',
		'--disable-component-update', '--disable-sync', '--no-first-run']});
});

after(async () => {
	await browser?.close();
	rmSync(dir, {recursive: true, force: true});
});

// Chooses file on the page at url; returns what the page shows, the
// images it saves, and every request it made.
async function choose(url, file) {
	const page = await browser.newPage();
	const requests = [];
	page.on('request', (r) => requests.push(r.url()));
	try {
		await page.goto(url);
		await page.setInputFiles('#file', file);
		await page.waitForSelector('body[data-state=done]', {timeout: 60000});
		const saved = [];
		for (const link of await page.$$('a[download]')) {
			assert.equal(await link.getAttribute('download'), 'tovrin-fw.bin');
			const [download] = await Promise.all([page.waitForEvent('download'),
				link.click()]);
			saved.push(readFileSync(await download.path()));
		}
		const alert = await page.$('#result [role=alert]');
		return {text: await page.innerText('#result'), saved, alert, requests};
	} finally {
		await page.close();
	}
}

const vendor = "found firmware in `Driver/WinXP/CnxEtU.sys' at offset 0x6a0";
const rows = [
	// file, what the page says, the images it saves
	['EXAMPLES/vendor/driver.zip', vendor, ['image.bin']],
	['EXAMPLES/vendor/driver.cab', vendor, ['image.bin']],
	['EXAMPLES/vendor/setup-cab.exe', vendor, ['image.bin']],
	['EXAMPLES/vendor/setup-zip.exe', vendor, ['image.bin']],
	['EXAMPLES/vendor/driver.7z', vendor, ['image.bin']],
	['EXAMPLES/vendor/driver.iso',
		"found firmware in `DRIVER/WINXP/CNXETU.SYS' at offset 0x6a0", ['image.bin']],
	['EXAMPLES/sample-driver.sys',
		"found firmware in `sample-driver.sys' at offset 0x6a0", ['image.bin']],
	['big.zip', "found firmware in `Driver/CnxEtU.sys' at offset 0x6a0",
		['image.bin']],
	['same.zip', "2 drivers in `same.zip' hold the same image", ['image.bin']],
	['other.zip', "the drivers in `other.zip' hold different images",
		['image.bin', 'other.bin']],
	['none.zip', "no CnxEtU.sys in `none.zip'", []],
	['nofw.zip', "the one driver in `nofw.zip' holds no firmware\n\n" +
		"no firmware in `Driver/CnxEtU.sys': file is not a DOS executable", []],
	['EXAMPLES/sample-driver.c', "`sample-driver.c' is neither a package " +
		'that 7-Zip can read nor a driver (file is not a DOS executable)', []],
	['cut.zip', "`cut.zip' is damaged or cut short", []],
	['cut.cab', "`cut.cab' is damaged or cut short (7-Zip: Unexpected end " +
		'of archive; Data Error', []],
	['cut.7z', 'it is damaged or cut short: fetch or copy it again', []],
];

test('each file chosen, opened from disk', async () => {
	const url = pathToFileURL(PAGE).href;
	for (const [file, says, want] of rows) {
		const path = file.replace(/^EXAMPLES/, EXAMPLES).replace(/^(?!\/)/,
			`${dir}/`);
		const got = await choose(url, path);
		const wanted = want.map((name) => readFileSync(at(name)));
		assert.ok(got.text.includes(says), `${file}: does not say: ${says}\n${
			got.text}`);
		assert.deepEqual(got.saved, wanted, `${file}: saved other images`);
		for (const image of wanted) {
			const size = `${image.length} bytes, SHA-256 ${sha256(image)}`;
			assert.ok(got.text.includes(size), `${file}: no ${size}`);
		}
		assert.equal(!!got.alert, want.length === 0,
			`${file}: a failure is an alert, and only a failure`);
		assert.deepEqual(got.requests, [url], `${file}: made requests`);
	}
});

test('served over http', async () => {
	const html = readFileSync(PAGE);
	const server = createServer((req, res) => res.end(html));
	await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
	try {
		const url = `http://127.0.0.1:${server.address().port}/`;
		const got = await choose(url, join(EXAMPLES, 'vendor', 'driver.zip'));
		assert.ok(got.text.includes(vendor), got.text);
		assert.deepEqual(got.saved, [readFileSync(at('image.bin'))]);
		assert.deepEqual(got.requests, [url]);
	} finally {
		server.close();
	}
});
