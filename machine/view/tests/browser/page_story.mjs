// What a person does at the machine's page, in headless Chromium:
//   node page_story.mjs URL CHROMIUM hotsync|status [SCREENSHOT]
// hotsync: writes a note on the handheld, presses HotSync, changes the note on both sides,
// presses HotSync again and answers the conflict dialog with "Use Desktop Value" (the screenshot,
// when asked for, is taken while the dialog is up). status: finds the configuration program's
// status screen with its ten rows and closes it with OK.
import {createRequire} from "node:module";

// puppeteer-core from the folder the runner names (npm installs it outside the source tree).
const require = createRequire(process.env.SX_PUPPETEER_MODULES + "/");
const puppeteer = require("puppeteer-core");

const [url, chromium, story, screenshot] = process.argv.slice(2);
const kWait = {timeout: 30000};
const conflictTitle = "Scribbix - Resolve Field Level Conflicts";

function fail(message) {
  console.error("FAILED: " + message);
  process.exit(1);
}

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-dev-shm-usage"],
});
const page = await browser.newPage();
try {
  await page.setViewport({width: 1400, height: 1000});
  page.on("pageerror", e => fail("the page threw: " + e.message));
  await page.goto(url);
  await page.waitForFunction(() => document.querySelector("#user").textContent !== "", kWait);

  const noteShown = text => page.waitForFunction(
      t => [...document.querySelectorAll("#hh .note .t")].some(e => e.textContent === t), kWait, text);
  const postShown = text => page.waitForFunction(
      t => [...document.querySelectorAll("#ol .post .t")].some(e => e.textContent === t), kWait, text);
  const hotsyncDone = () => page.waitForFunction(
      () => !document.querySelector("#hotsync").disabled &&
            document.querySelector("#status").textContent.includes("completed"), kWait);
  // Presses an Edit button of the row that shows `text` in `list`, replaces the text and saves.
  async function edit(list, text, field, save, newText) {
    await page.evaluate((list, text) => {
      const row = [...document.querySelectorAll(list)].find(r => r.querySelector(".t").textContent === text);
      [...row.querySelectorAll("button")].find(b => b.textContent === "Edit").click();
    }, list, text);
    await page.$eval(field, e => { e.value = ""; });
    await page.type(field, newText);
    await page.click(save);
  }

  if (story === "hotsync") {
    await page.type("#hhtext", "Meeting at 10");
    await page.click("#hhsave");
    await noteShown("Meeting at 10");
    await page.click("#hotsync");
    await page.waitForFunction(() => document.querySelector("#status").textContent !== "", kWait);
    await hotsyncDone();
    await postShown("Meeting at 10");

    await edit("#hh .note", "Meeting at 10", "#hhtext", "#hhsave", "Meeting at 11 (handheld)");
    await noteShown("Meeting at 11 (handheld)");
    await edit("#ol .post", "Meeting at 10", "#olbody", "#olsave", "Meeting at 12 (Outlook)");
    await postShown("Meeting at 12 (Outlook)");

    await page.click("#hotsync");
    const dialog = `.win[data-title="${conflictTitle}"]`;
    await page.waitForSelector(dialog, kWait);
    if (screenshot) await page.screenshot({path: screenshot});
    const pressed = await page.evaluate(dialog => {
      const b = [...document.querySelectorAll(dialog + " button.ctl")]
          .find(b => b.textContent === "Use Desktop Value");
      if (!b) return false;
      b.click();
      return true;
    }, dialog);
    if (!pressed) fail("the conflict dialog has no \"Use Desktop Value\" button");
    await page.waitForSelector(dialog, {hidden: true, ...kWait});
    await hotsyncDone();
    await noteShown("Meeting at 12 (Outlook)");
    await postShown("Meeting at 12 (Outlook)");
  } else if (story === "status") {
    const screen = '.win[data-title="Scribbix Outlook Conduit Configuration"]';
    await page.waitForSelector(screen, kWait);
    // Its rows: the status cells (ids 1120-1129) once the checks have filled them.
    await page.waitForFunction(screen => {
      const cells = [...document.querySelectorAll(screen + " .ctl")].filter(
          e => +e.dataset.id >= 1120 && +e.dataset.id < 1130 && e.textContent.trim() !== "");
      return cells.length === 10;
    }, kWait, screen);
    const rows = await page.evaluate(screen => [...document.querySelectorAll(screen + " .ctl")]
        .filter(e => +e.dataset.id >= 1100 && +e.dataset.id < 1110).map(e => e.textContent), screen);
    if (rows.length !== 10 || rows.some(r => r.trim() === "")) fail("rows: " + JSON.stringify(rows));
    console.log("status rows: " + rows.join(" | "));
    await page.evaluate(screen => [...document.querySelectorAll(screen + " button.ctl")]
        .find(b => b.textContent === "OK").click(), screen);
    await page.waitForSelector(screen, {hidden: true, ...kWait});
  } else {
    fail("no story " + story);
  }
} catch (e) {
  // What the page showed when the story went wrong, for the test's log.
  console.error("The page then:\n" + await page.evaluate(() => document.body.innerText).catch(() => "?"));
  throw e;
} finally {
  await browser.close();
}
