// The page of `sxmachine view`: the handheld on the left, Outlook's notes folder on the right,
// HotSync in between. Plain HTML, CSS and JavaScript; nothing is fetched from elsewhere. The page
// learns its token from its own address and sends it with every request.
#include "view_server.h"

namespace sx::machine_view {

const std::string& page_html() {
  static const std::string kPage = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Scribbix machine</title><link rel="icon" href="data:,">
<style>
body{font:14px system-ui,sans-serif;margin:0;background:#d8dde3;color:#111}
header{background:#234;color:#fff;padding:8px 14px;font-size:16px}
header span{opacity:.7;font-size:13px;margin-left:10px}
main{display:grid;grid-template-columns:1fr 1.1fr 1fr;gap:12px;padding:12px}
section{background:#fff;border-radius:6px;padding:10px;box-shadow:0 1px 3px #0003;min-width:0}
h2{font-size:15px;margin:0 0 8px}
.handheld{background:#cfd8c0;border:8px solid #555;border-radius:18px}
.cat{font-weight:bold;margin:8px 0 2px;border-bottom:1px solid #8a9}
.note,.post{display:flex;gap:4px;align-items:flex-start;padding:3px 0;border-bottom:1px dotted #ccc}
.note .t,.post .t{flex:1;white-space:pre-wrap;word-break:break-word}
.flags{font-size:11px;color:#555}
button{font:inherit;font-size:12px;cursor:pointer}
textarea,input{font:inherit;width:100%;box-sizing:border-box}
.form{margin-top:8px;border-top:1px solid #999;padding-top:6px}
#hotsync{font-size:18px;padding:8px 24px;margin:6px 0}
pre{background:#f4f4f4;padding:6px;max-height:220px;overflow:auto;font-size:12px;white-space:pre-wrap}
#message{min-height:18px;color:#036}
#message.bad{color:#a00}
#windows{position:relative}
.win{position:relative;background:#d4d0c8;border:2px outset #fff;margin:8px auto;font:11px Tahoma,"DejaVu Sans Condensed",sans-serif}
.win .cap{background:linear-gradient(90deg,#0a246a,#a6caf0);color:#fff;font-weight:bold;padding:2px 4px}
.win .client{position:relative}
.ctl{position:absolute;box-sizing:border-box;overflow:hidden;font:11px Tahoma,"DejaVu Sans Condensed",sans-serif}
.ctl.button{border:2px outset #fff;background:#d4d0c8;text-align:center}
.ctl.defbutton{border:2px outset #fff;outline:1px solid #000;background:#d4d0c8;text-align:center}
.ctl.edit,.ctl.listbox,.ctl.combobox{background:#fff;border:2px inset #fff}
.ctl.edit textarea,.ctl.edit input{font:11px Tahoma,"DejaVu Sans Condensed",sans-serif;background:transparent}
.ctl.button,.ctl.defbutton,.ctl.checkbox,.ctl.radio{white-space:nowrap;padding:0 2px}
.ctl.checkbox input,.ctl.radio input{margin:0 4px 0 0;vertical-align:middle}
.ctl.groupbox{overflow:visible}
.ctl.groupbox::before{content:"";position:absolute;left:0;right:0;top:6px;bottom:0;border:2px groove #fff}
.ctl.groupbox span{position:absolute;top:0;left:6px;background:#d4d0c8;padding:0 2px;line-height:12px}
.ctl.progress{border:1px inset #fff;background:#fff}
.ctl.progress div{background:#0a246a;height:100%}
.ctl.disabled{color:#888}
</style></head><body>
<header>Scribbix machine <span id="user"></span></header>
<main>
<section class="handheld"><h2>Handheld: notes</h2><div id="hh"></div>
 <div class="form"><b id="hhmode">New note</b>
  <textarea id="hhtext" rows="3" placeholder="Note text"></textarea>
  <select id="hhcat"></select> <label><input type="checkbox" id="hhpriv" style="width:auto">private</label>
  <button id="hhsave">Save</button> <button id="hhcancel">New</button></div></section>
<section><h2>HotSync</h2>
 <button id="hotsync">HotSync</button> <button id="preview">Preview next HotSync</button>
 <div id="status"></div><div id="message"></div>
 <div id="windows"></div>
 <h2>Preview</h2><pre id="previewlines">(press "Preview next HotSync")</pre>
 <h2>HotSync log</h2><pre id="log"></pre></section>
<section><h2>Outlook: <span id="folder"></span></h2><div id="ol"></div>
 <div class="form"><b id="olmode">New post</b>
  <textarea id="olbody" rows="3" placeholder="Post text"></textarea>
  <input id="olcats" placeholder="Categories">
  <button id="olsave">Save</button> <button id="olcancel">New</button></div></section>
</main>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("token") || "";
const $ = id => document.getElementById(id);
let editingNote = 0, editingPost = "", state = null;
function el(tag, cls, text) { const e = document.createElement(tag); if (cls) e.className = cls; if (text !== undefined) e.textContent = text; return e; }
function say(text, bad) { $("message").textContent = text || ""; $("message").className = bad ? "bad" : ""; }
async function ask(body) {
  try {
    const r = await fetch("/api/do", {method: "POST", headers: {"Content-Type": "application/json", "X-Sx-Token": token}, body: JSON.stringify(body)});
    const a = await r.json(); say(a.message, !a.ok); return a;
  } catch (e) { say("The machine's server does not answer.", true); return {ok: false}; }
}
function button(text, action) { const b = el("button", "", text); b.onclick = action; return b; }
function showHandheld(h) {
  const box = $("hh"); box.textContent = "";
  if (h.error) { box.append(el("div", "", h.error)); return; }
  const cats = (h.categories || []).map(c => c.name);
  const select = $("hhcat"), chosen = select.value; select.textContent = "";
  for (const c of cats) { const o = el("option", "", c); o.value = c; select.append(o); }
  if (chosen) select.value = chosen;
  const by = {};
  for (const n of h.notes || []) { if (n.deleted || n.archived) continue; (by[n.category] = by[n.category] || []).push(n); }
  for (const c of cats) {
    if (!by[c]) continue;
    box.append(el("div", "cat", c));
    for (const n of by[c]) {
      const row = el("div", "note"); row.dataset.record = n.record_id;
      row.append(el("div", "t", n.text), el("span", "flags", (n.private ? "private " : "") + (n.changed ? "changed" : "")));
      row.append(button("Edit", () => { editingNote = n.record_id; $("hhmode").textContent = "Edit note " + n.record_id; $("hhtext").value = n.text; $("hhcat").value = n.category; $("hhpriv").checked = n.private; }));
      row.append(button("Delete", () => ask({side: "handheld", action: "delete", record: n.record_id})));
      row.append(button("Archive", () => ask({side: "handheld", action: "archive", record: n.record_id})));
      box.append(row);
    }
  }
  const gone = (h.notes || []).filter(n => n.deleted || n.archived).length;
  if (gone) box.append(el("div", "flags", gone + " deleted or archived until the next HotSync"));
}
function showOutlook(o) {
  const box = $("ol"); box.textContent = "";
  $("folder").textContent = o.folder || "";
  if (o.error) { box.append(el("div", "", o.error)); return; }
  for (const p of o.posts) {
    const row = el("div", "post"); row.dataset.entry = p.entry_id;
    row.append(el("div", "t", p.body), el("span", "flags", p.categories));
    row.append(button("Edit", () => { editingPost = p.entry_id; $("olmode").textContent = "Edit post"; $("olbody").value = p.body; $("olcats").value = p.categories; }));
    row.append(button("Delete", () => ask({side: "outlook", action: "delete", entry_id: p.entry_id})));
    box.append(row);
  }
}
function show(s) {
  state = s;
  $("user").textContent = s.user;
  showHandheld(s.handheld); showOutlook(s.outlook);
  $("log").textContent = (s.log || []).join("\n");
  const h = s.hotsync || {};
  $("hotsync").disabled = !!h.running;
  $("status").textContent = h.running ? "HotSync in progress…" : (h.last_result === null || h.last_result === undefined ? "" : (h.last_result === 0 ? "The last HotSync completed." : "The last HotSync failed (" + h.last_result + ")."));
  if (typeof showWindows === "function") showWindows(s.windows || []);
}
$("hhsave").onclick = async () => {
  const body = {side: "handheld", text: $("hhtext").value, category: $("hhcat").value, private: $("hhpriv").checked};
  if (editingNote) { body.action = "edit"; body.record = editingNote; } else body.action = "new";
  const a = await ask(body); if (a.ok) $("hhcancel").onclick();
};
$("hhcancel").onclick = () => { editingNote = 0; $("hhmode").textContent = "New note"; $("hhtext").value = ""; $("hhpriv").checked = false; };
$("olsave").onclick = async () => {
  const body = {side: "outlook", body: $("olbody").value, categories: $("olcats").value};
  if (editingPost) { body.action = "edit"; body.entry_id = editingPost; body.subject = body.body.split("\n")[0]; } else body.action = "add";
  const a = await ask(body); if (a.ok) $("olcancel").onclick();
};
$("olcancel").onclick = () => { editingPost = ""; $("olmode").textContent = "New post"; $("olbody").value = ""; $("olcats").value = ""; };
$("hotsync").onclick = () => ask({side: "hotsync", action: "sync"});
$("preview").onclick = async () => { $("previewlines").textContent = "…"; const a = await ask({side: "hotsync", action: "preview"}); $("previewlines").textContent = (a.lines || []).join("\n") || a.message || ""; };
// The windows the machine's processes show: each control where its template puts it.
function showWindows(windows) {
  const box = $("windows");
  // What the person is typing in an edit control stays as typed (and focused) while the window is
  // drawn again: it reaches the window when the control loses the focus.
  const a = document.activeElement;
  const typing = a && (a.tagName === "INPUT" || a.tagName === "TEXTAREA") && a.dataset.handle
    ? {handle: a.dataset.handle, value: a.value, start: a.selectionStart, end: a.selectionEnd} : null;
  box.textContent = "";
  for (const w of windows) {
    const win = el("div", "win"); win.dataset.window = w.name; win.dataset.title = w.title;
    win.style.width = (w.width + 4) + "px";
    const cap = el("div", "cap", w.title + "  —  " + w.program);
    if (w.modal) { const x = button("×", () => ask({side: "window", window: w.name, action: "close"})); x.style.float = "right"; x.style.padding = "0 4px"; cap.append(x); }
    const client = el("div", "client"); client.style.height = w.height + "px";
    for (const c of w.controls) {
      if (!c.visible) continue;
      const kind = c.class === "button" && c.default ? "defbutton" : c.class;
      const e = el(kind === "button" || kind === "defbutton" ? "button" : "div", "ctl " + kind + (c.enabled ? "" : " disabled"));
      e.style.left = c.x + "px"; e.style.top = c.y + "px"; e.style.width = c.cx + "px"; e.style.height = c.cy + "px";
      e.dataset.handle = c.handle; e.dataset.id = c.id; e.title = c.class + " " + c.id + " at " + c.du.join(",") + " (dialog units)";
      if (c.colour) e.style.color = c.colour;
      if (c.background) e.style.background = c.background;
      const send = (action, extra) => ask(Object.assign({side: "window", window: w.name, action: action, handle: c.handle}, extra || {}));
      if (kind === "button" || kind === "defbutton") { e.textContent = c.text.replace(/&(.)/g, "$1"); e.disabled = !c.enabled; e.onclick = () => send("click"); }
      else if (kind === "checkbox" || kind === "radio") {
        const i = el("input"); i.type = kind === "radio" ? "radio" : "checkbox"; i.checked = c.checked; i.disabled = !c.enabled; i.style.width = "auto";
        i.onclick = ev => { ev.preventDefault(); send("click"); };
        e.append(i, document.createTextNode(c.text.replace(/&(.)/g, "$1")));
      } else if (kind === "edit") {
        const i = el(c.multiline ? "textarea" : "input"); i.value = c.text; i.readOnly = c.readonly; i.style.width = "100%"; i.style.resize = "none"; i.disabled = !c.enabled; i.dataset.handle = c.handle; i.style.border = "0"; i.style.height = "100%";
        i.onblur = () => { if (i.value !== c.text) send("type", {text: i.value}); }; e.append(i);
      } else if (kind === "listbox" || kind === "combobox") {
        (c.items || []).forEach((item, n) => { const r = el("div", "", item); if (n === c.selection) r.style.background = "#0a246a", r.style.color = "#fff"; r.onclick = () => send("select", {index: n}); e.append(r); });
      } else if (kind === "groupbox") { e.append(el("span", "", c.text)); }
      else if (kind === "progress") { const bar = el("div"); const span = Math.max(1, c.max - c.min); bar.style.width = Math.round(100 * (c.pos - c.min) / span) + "%"; e.append(bar); }
      else { e.textContent = c.text.replace(/&(.)/g, "$1"); e.style.whiteSpace = "pre-wrap"; }
      client.append(e);
    }
    win.append(cap, client); box.append(win);
  }
  if (typing) {
    const again = box.querySelector('input[data-handle="' + typing.handle + '"],textarea[data-handle="' + typing.handle + '"]');
    if (again) { again.value = typing.value; again.focus(); again.setSelectionRange(typing.start, typing.end); }
  }
}
const events = new EventSource("/api/events?token=" + encodeURIComponent(token));
events.onmessage = e => { try { show(JSON.parse(e.data)); } catch (x) { say("A state the page cannot read came.", true); } };
</script></body></html>
)PAGE";
  return kPage;
}

}  // namespace sx::machine_view
