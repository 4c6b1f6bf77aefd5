// Part of scripts/test-e2e: logs in to the Zabbix frontend in headless
// Chromium (Debian's), opens a host's template dashboard and its graphs page,
// saves screenshots, and fails when a widget shows no data or an error.
//
//   node dashboard_check.mjs FRONTEND_URL FACTS_JSON VERSION DASHBOARD_PNG GRAPH_PNG SECRET
//
// FACTS_JSON names the host and its graphs with their items' colours (from
// the API). A classic graph is an image, so "has data" is judged on its
// pixels: a drawn line leaves many pixels in an item's colour, a graph
// without values only its small legend squares. SECRET (the BMC password)
// must appear nowhere in the pages. E2E_WIDGETS, a comma-separated list of
// widget names, checks only those (each must be there); without it, every
// widget is checked and the standard ones must be there. A Honeycomb has data
// when its cells show a value. Exit status 0 when every widget passed, 1 with
// one line per finding otherwise.
import fs from 'node:fs';
import { chromium } from 'playwright-core';

const [base, factsPath, version, dashboardShot, graphShot, secret] = process.argv.slice(2);
const facts = JSON.parse(fs.readFileSync(factsPath, 'utf8'));
const colorsOf = new Map(facts.graphs.map((g) => [g.graphid, g.colors]));
const period = 'from=now-10m&to=now';
// A graph with data has a line across much of its width in an item's
// colour; one without has none (its legend squares do not count, being
// drawn a shade off).
const hasLine = (m) => m.count >= Math.max(30, 0.15 * m.width);

const findings = [];
const note = (line) => console.log(line);
const found = (line) => {
    findings.push(line);
    console.log(`FAIL: ${line}`);
};

// Counts, per image, the pixels in one of its graph's item colours.
async function linePixels(page, images) {
    const measured = [];
    for (const image of images) {
        const src = await image.getAttribute('src');
        // A dashboard's graph names its items' colours in its address; a
        // graph page only the graph, whose colours come from the facts.
        const params = new URL(src, base).searchParams;
        const graphid = params.get('graphid');
        const named = [...params.entries()].filter(([k]) => /^items\[\d+\]\[color\]$/.test(k)).map(([, v]) => v);
        const colors = named.length ? named : colorsOf.get(graphid) || [];
        const count = await image.evaluate((img, hexes) => {
            const canvas = document.createElement('canvas');
            canvas.width = img.naturalWidth;
            canvas.height = img.naturalHeight;
            const context = canvas.getContext('2d');
            context.drawImage(img, 0, 0);
            const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
            const wanted = hexes.map((h) => [0, 2, 4].map((i) => parseInt(h.slice(i, i + 2), 16)));
            let found = 0;
            for (let p = 0; p < data.length; p += 4) {
                if (wanted.some((c) => Math.abs(c[0] - data[p]) + Math.abs(c[1] - data[p + 1]) +
                                       Math.abs(c[2] - data[p + 2]) < 24)) found++;
            }
            return { found, width: canvas.width };
        }, colors);
        measured.push({ graphid, count: count.found, width: count.width, colors });
    }
    return measured;
}

async function waitForImages(page) {
    await page.waitForFunction(() => [...document.images].every((i) => i.complete), null, { timeout: 30000 });
}

// Waits until every widget has loaded, then returns what each shows.
async function widgetsOf(page) {
    await page.waitForSelector('.dashboard-grid-widget, .dashboard-grid-iterator', { timeout: 30000 });
    await page.waitForFunction(() => {
        const all = [...document.querySelectorAll('.dashboard-grid-widget, .dashboard-grid-iterator')];
        return all.length > 0 && all.every((w) => !w.classList.contains('is-loading') &&
                                                !w.querySelector('.is-loading'));
    }, null, { timeout: 30000 });
    await waitForImages(page);
    // The graphs of an iterator are widgets of their own inside it.
    const all = await page.$$('.dashboard-grid-widget, .dashboard-grid-iterator');
    const top = [];
    for (const widget of all) {
        if (await widget.evaluate((w) => !w.parentElement.closest('.dashboard-grid-iterator'))) top.push(widget);
    }
    return top;
}

const ERROR_TEXT = /No permissions|does not exist|Cannot |Error|error|Invalid|not supported|No graphs/;
const NO_DATA_TEXT = /No data|No data found|No host selected/;

async function checkWidget(page, widget) {
    const name = (await widget.$eval('h4', (h) => h.textContent.trim()).catch(() => '')) || '(no name)';
    const body = await widget.$('.dashboard-grid-widget-content, .dashboard-grid-widget-contents, ' +
                                 '.dashboard-grid-iterator-content, .dashboard-grid-iterator-contents');
    const text = body ? (await body.innerText()).trim() : '';
    const frameElement = body ? await body.$('iframe') : null;
    const whole = (await widget.innerText()).trim();
    if (await widget.$('.msg-bad, .msg-details')) found(`${name}: shows an error: ${text.slice(0, 120)}`);
    else if (/too small/.test(whole)) found(`${name}: ${whole.slice(0, 120)}`);
    else if (ERROR_TEXT.test(text)) found(`${name}: shows an error: ${text.slice(0, 120)}`);
    else if (NO_DATA_TEXT.test(text)) found(`${name}: no data ("${text.slice(0, 60)}")`);
    const images = body ? await body.$$('img') : [];
    const cells = body ? await body.$$('.svg-honeycomb-cell') : [];
    let shown = `${images.length} graphs`;
    if (body && await body.$('.svg-honeycomb')) {
        const labels = await body.$$eval('.svg-honeycomb-label-secondary', (all) => all.map((l) => l.textContent.trim()));
        const values = labels.filter((l) => l !== '');
        if (cells.length === 0 || values.length === 0) found(`${name}: no data (${cells.length} cells)`);
        shown = `${cells.length} cells: ${[...new Set(values)].map((v) => `${values.filter((w) => w === v).length} ${v}`).join(', ')}`;
    } else if (images.length) {
        const measured = await linePixels(page, images);
        const empty = measured.filter((m) => !hasLine(m));
        if (empty.length) {
            found(`${name}: no data in ${empty.length} of ${images.length} graphs (line pixels ` +
                          `${empty.map((m) => m.count).join(', ')})`);
        }
        shown += `, line pixels ${measured.map((m) => m.count).join(' ')}`;
    } else if (frameElement) {
        const frame = await frameElement.contentFrame();
        await frame.waitForLoadState();
        const inner = (await frame.locator('body').innerText()).trim();
        const rows = await frame.locator('table.list-table tbody tr').count();
        if (/No data found/.test(inner) || rows === 0) found(`${name}: no data in its page`);
        shown = `a page with ${rows} rows`;
    } else if (body && /problems/i.test(name)) {
        const rows = await body.$$('table tbody tr');
        shown = `${rows.length} rows`;
    } else if (!text) {
        found(`${name}: empty`);
    } else {
        shown = `"${text.replace(/\s+/g, ' ').slice(0, 60)}"`;
    }
    note(`widget ${name}: ${shown}`);
    return name;
}

function checkSecret(where, html) {
    if (secret && html.includes(secret)) found(`${where}: the BMC password appears in the page`);
}

const browser = await chromium.launch({
    executablePath: process.env.E2E_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
});
try {
    // The frontend scrolls an element of its own, not the page: a window tall
    // enough for the whole dashboard shows every widget, in the screenshot too.
    const page = await browser.newPage({ viewport: { width: 1600, height: 2800 } });
    page.setDefaultTimeout(30000);
    await page.goto(`${base}/index.php`);
    await page.fill('#name', 'Admin');
    await page.fill('#password', 'zabbix');
    await Promise.all([page.waitForNavigation(), page.click('#enter')]);
    if (await page.$('#enter')) throw new Error('the login was refused');

    await page.goto(`${base}/zabbix.php?action=host.dashboard.view&hostid=${facts.hostid}&${period}`);
    // The time selector opens with the page; folded, the dashboard shows whole.
    if (await page.isVisible('.time-selection-container')) {
        await page.click('.btn-time');
        await page.waitForSelector('.time-selection-container', { state: 'hidden' });
    }
    const widgets = await widgetsOf(page);
    if (widgets.length === 0) found('the host has no dashboard widgets');
    if (process.env.E2E_BROWSER_DUMP) {
        const html = [];
        for (const widget of widgets) html.push((await widget.evaluate((w) => w.outerHTML)).slice(0, 4000));
        fs.writeFileSync(process.env.E2E_BROWSER_DUMP, html.join('\n\n=====\n\n'));
    }
    const only = process.env.E2E_WIDGETS ? process.env.E2E_WIDGETS.split(',') : null;
    const names = [];
    for (const widget of widgets) {
        const name = (await widget.$eval('h4', (h) => h.textContent.trim()).catch(() => '')) || '(no name)';
        if (!only || only.includes(name)) names.push(await checkWidget(page, widget));
        else names.push(name);
    }
    const wantedWidgets = only || ['Last run of bmc-probe', 'System health', 'System health rollup', 'System state',
                                   'Server inventory', 'System conditions', 'Total power and its limits',
                                   'Peak power and its limits', 'Temperatures', 'Fan speeds', 'Voltages'];
    // 6.0 template dashboards have neither a Problems nor a Honeycomb widget.
    if (!only && version !== '6.0') wantedWidgets.push('Problems', 'Component health');
    for (const wanted of wantedWidgets) {
        if (!names.includes(wanted)) found(`${wanted}: no such widget on the dashboard`);
    }
    checkSecret('dashboard', await page.content());
    for (const frame of page.frames()) checkSecret('dashboard frame', await frame.content());
    await page.screenshot({ path: dashboardShot });
    note(`dashboard of ${facts.host} (Zabbix ${version}): ${widgets.length} widgets, screenshot ${dashboardShot}`);

    // One graph on its own, at full size, as the frontend draws it.
    const power = facts.graphs.find((g) => g.name === 'Total power and its limits');
    if (!power) throw new Error('the host has no graph "Total power and its limits"');
    await page.setViewportSize({ width: 1300, height: 500 });
    await page.goto(`${base}/chart2.php?graphid=${power.graphid}&${period}&width=1200&height=300&legend=1`);
    await waitForImages(page);
    const [measured] = await linePixels(page, [await page.$('img')]);
    if (!hasLine(measured)) found(`graph page: no data in "${power.name}" (${measured.count})`);
    checkSecret('graph page', await page.content());
    await page.screenshot({ path: graphShot });
    note(`graph "${power.name}": line pixels ${measured.count}, screenshot ${graphShot}`);
} finally {
    await browser.close();
}
process.exit(findings.length ? 1 : 0);
