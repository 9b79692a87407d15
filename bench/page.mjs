// Measures the offline page in headless Chromium: its size, the time from
// choosing examples/vendor/driver.zip to the result, and the time and the
// renderer's peak memory for a 700 MB CD image holding the driver.
//
//   cmake --workflow --preset web && node bench/page.mjs
//
// Needs bsdtar (it makes the CD image) and a web build in build/web.
import {execFileSync} from 'node:child_process';
import {copyFileSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync,
	statSync, writeFileSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {dirname, join} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const build = join(root, 'build', 'web');
const page = join(build, 'tovrin-fw.html');
const {chromium} = createRequire(import.meta.url)(
	join(build, 'web', 'npm', 'node_modules', 'playwright-core'));

const MB = 1 << 20;
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

// The peak resident memory of Chromium's renderer processes, in MB: run
// with no other Chromium open.
function rendererPeak() {
	let peak = 0;
	for (const pid of readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
		try {
			if (!readFileSync(`/proc/${pid}/cmdline`, 'utf8')
				.includes('--type=renderer'))
				continue;
			const status = readFileSync(`/proc/${pid}/status`, 'utf8');
			peak = Math.max(peak, /^VmHWM:\s+(\d+)/m.exec(status)[1] / 1024);
		} catch {
			// The process ended while we looked.
		}
	}
	return Math.round(peak);
}

async function run(browser, file) {
	const tab = await browser.newPage();
	await tab.goto(pathToFileURL(page).href);
	const start = performance.now();
	await tab.setInputFiles('#file', file);
	await tab.waitForSelector('body[data-state=done]', {timeout: 120000});
	const ms = performance.now() - start;
	const text = await tab.innerText('#result');
	if (!text.includes('found firmware in'))
		throw new Error(`${file}: ${text}`);
	return {tab, ms};
}

const launch = () => chromium.launch({executablePath: '/usr/bin/chromium',
	args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
		'--disable-component-update', '--disable-sync', '--no-first-run']});
const work = mkdtempSync(join(tmpdir(), 'page-bench-'));
let browser = await launch();
try {
	console.log(`page: ${statSync(page).size} bytes`);

	const zip = join(root, 'examples', 'vendor', 'driver.zip');
	const times = [];
	for (let i = 0; i < 11; i++) {
		const {tab, ms} = await run(browser, zip);
		times.push(ms);
		await tab.close();
	}
	console.log(`driver.zip to result: median ${median(times).toFixed(0)} ms ` +
		`over ${times.length} runs (${Math.min(...times).toFixed(0)} to ` +
		`${Math.max(...times).toFixed(0)} ms)`);

	// A CD of 700 MB: the driver behind 700 MB of other files.
	const cd = join(work, 'cd');
	mkdirSync(join(cd, 'DRIVER', 'WINXP'), {recursive: true});
	copyFileSync(join(root, 'examples', 'sample-driver.sys'),
		join(cd, 'DRIVER', 'WINXP', 'CNXETU.SYS'));
	const block = Buffer.alloc(100 * MB, 0x5a);
	for (let i = 0; i < 7; i++)
		writeFileSync(join(cd, `DATA${i}.BIN`), block);
	const iso = join(work, 'cd.iso');
	execFileSync('bsdtar', ['--format', 'iso9660', '-cf', iso, '-C', cd, '.']);
	rmSync(cd, {recursive: true});

	// A browser of its own, so that the peak is this run's.
	await browser.close();
	browser = await launch();
	const {ms} = await run(browser, iso);
	console.log(`${(statSync(iso).size / MB).toFixed(0)} MB CD image to ` +
		`result: ${(ms / 1000).toFixed(1)} s; renderer's peak memory ` +
		`${rendererPeak()} MB`);
} finally {
	await browser.close();
	rmSync(work, {recursive: true, force: true});
}
