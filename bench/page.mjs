// Measures the offline page: its size; in each engine, the time from
// choosing examples/vendor/driver.zip to the result; and in Chromium, for
// a 700 MB CD image and a 3 GB DVD image holding the driver and for a zip
// of 5 GiB of zeros named CnxEtU.sys, the time to the answer, the
// renderer's peak memory over the empty page's, and the longest time the
// page did not answer.
//
//   cmake --workflow --preset web && node bench/page.mjs [ENGINE...]
//
// Needs bsdtar (it makes the images, about 9 GB of room in TMPDIR) and
// the web build in build/web; run it with no other browser open.
import {execFileSync} from 'node:child_process';
import {closeSync, copyFileSync, mkdirSync, mkdtempSync, openSync,
	readdirSync, readFileSync, rmSync, statSync, truncateSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

import {launch} from '../tests/browsers.mjs';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const build = join(root, 'build', 'web');
const page = pathToFileURL(join(build, 'tovrin-fw.html')).href;
const modules = join(build, 'web', 'npm', 'node_modules');
const engines = process.argv.slice(2).length ? process.argv.slice(2) :
	['chromium', 'firefox', 'webkit'];

const MB = 1 << 20;
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

// The peak resident memory of Chromium's renderer processes, in MB.
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

// Chooses file on a fresh page; the time to the answer, its first line,
// the renderer's peak memory before and after, and the longest gap between the page's timer ticks (10 ms apart).
async function run(browser, file) {
	const tab = await browser.open(page);
	while (await tab.run(async () => document.body.dataset.state) !== 'ready')
		;
	const empty = rendererPeak();
	await tab.run(async () => {
		let last = performance.now();
		window.gap = 0;
		setInterval(() => {
			const now = performance.now();
			window.gap = Math.max(window.gap, now - last);
			last = now;
		}, 10);
	});
	const start = performance.now();
	await tab.choose(file);
	while (await tab.run(async () => document.body.dataset.state) !== 'done')
		await new Promise((resolve) => setTimeout(resolve, 10));
	const ms = performance.now() - start;
	const {text, gap} = await tab.run(async () => ({gap: window.gap,
		text: document.getElementById('result').innerText}));
	const peak = rendererPeak();
	await tab.close();
	return {ms, gap, empty, peak, says: text.split('\n')[0]};
}

function sparse(path, size) {
	closeSync(openSync(path, 'w'));
	truncateSync(path, size);
}

// A CD or DVD image: the driver beside a file of size bytes.
function image(name, size) {
	const dir = join(work, name);
	mkdirSync(join(dir, 'DRIVER', 'WINXP'), {recursive: true});
	copyFileSync(join(root, 'examples', 'sample-driver.sys'),
		join(dir, 'DRIVER', 'WINXP', 'CNXETU.SYS'));
	sparse(join(dir, 'DATA.BIN'), size);
	execFileSync('bsdtar', ['--format', 'iso9660', '-cf', `${dir}.iso`, '-C',
		dir, '.']);
	rmSync(dir, {recursive: true});
	return `${dir}.iso`;
}

const work = mkdtempSync(join(tmpdir(), 'page-bench-'));
try {
	console.log(`page: ${statSync(fileURLToPath(page)).size} bytes`);
	const zip = join(root, 'examples', 'vendor', 'driver.zip');
	for (const engine of engines) {
		const browser = await launch(engine, modules);
		try {
			const times = [];
			let gap = 0;
			for (let i = 0; i < 11; i++) {
				const r = await run(browser, zip);
				times.push(r.ms);
				gap = Math.max(gap, r.gap);
			}
			console.log(`${engine}: driver.zip to result: median ${
				median(times).toFixed(0)} ms over ${times.length} runs (${
				Math.min(...times).toFixed(0)} to ${
				Math.max(...times).toFixed(0)} ms); longest wait ${
				gap.toFixed(0)} ms`);
		} finally {
			await browser.close();
		}
	}
	if (!engines.includes('chromium'))
		process.exit(0);

	const bomb = join(work, 'bomb');
	mkdirSync(bomb);
	sparse(join(bomb, 'CnxEtU.sys'), 5 * 2 ** 30);
	execFileSync('bsdtar', ['-a', '-cf', `${bomb}.zip`, '-C', bomb, '.']);
	rmSync(bomb, {recursive: true});
	const inputs = [['CD image', image('cd', 700 * MB)],
		['DVD image', image('dvd', 3 * 2 ** 30)], ['5 GiB bomb', `${bomb}.zip`]];
	for (const [what, file] of inputs) {
		// A browser of its own, so that the peak is this run's.
		const browser = await launch('chromium', modules);
		try {
			const r = await run(browser, file);
			console.log(`chromium: ${what} (${(statSync(file).size / MB)
				.toFixed(0)} MB): ${(r.ms / 1000).toFixed(2)} s; renderer's ` +
				`peak ${r.peak - r.empty} MB over the empty page's ${
				r.empty} MB; longest wait ${r.gap.toFixed(0)} ms; "${r.says}"`);
		} finally {
			await browser.close();
		}
	}
} finally {
	rmSync(work, {recursive: true, force: true});
}
