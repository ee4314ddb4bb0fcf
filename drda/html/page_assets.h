// SPDX-License-Identifier: Apache-2.0
// The style sheet and the script of the HTML page, compiled in and written
// inline: the page loads nothing. The script only sorts tables by a
// column, filters table rows and opens the evidence block an anchor leads
// to; the page reads the same without it.
#pragma once

#include <string_view>

namespace drda::html {

inline constexpr std::string_view kStyle = R"CSS(
:root{--ok:#3b7dd8;--err:#d43f3a;--nr:#e39b1b;--ink:#1f2933;--mute:#66727f;--line:#d8dee4;--band:#f4f6f8}
*{box-sizing:border-box}
body{margin:0;font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;color:var(--ink);background:#fff}
header{background:#17324d;color:#fff;padding:14px 28px}
header h1{margin:0;font-size:20px;font-weight:600}
header p{margin:2px 0 0;color:#c5d3e0;font-size:13px;word-break:break-all}
nav{background:#0f2438;padding:6px 28px}
nav a{color:#c5d3e0;text-decoration:none;margin-right:18px;font-size:13px}
nav a:hover{color:#fff}
main{padding:6px 28px 40px;max-width:1400px}
section{margin-top:22px}
h2{font-size:17px;font-weight:600;border-bottom:2px solid var(--line);padding-bottom:4px;margin:0 0 10px}
h3{font-size:14px;font-weight:600;margin:14px 0 4px}
.cards{display:flex;flex-wrap:wrap;gap:10px}
.card{border:1px solid var(--line);border-radius:6px;padding:8px 14px;min-width:128px;background:var(--band)}
.card b{display:block;font-size:20px;font-weight:600}
.card span{color:var(--mute);font-size:12px}
.card.bad b{color:var(--err)}
dl.facts{display:grid;grid-template-columns:max-content auto;gap:2px 18px;margin:12px 0 0}
dl.facts dt{color:var(--mute)}
dl.facts dd{margin:0}
.note{border-left:4px solid var(--nr);background:#fdf6e7;padding:6px 10px;margin:8px 0}
.note.stop{border-color:var(--err);background:#fbeceb}
.muted{color:var(--mute)}
.scroll{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:13px}
th,td{border-bottom:1px solid var(--line);padding:3px 8px;text-align:left;vertical-align:top}
th{background:var(--band);font-weight:600;white-space:nowrap;position:sticky;top:0}
table.sortable th{cursor:pointer;user-select:none}
table.sortable th:hover{background:#e6ebf0}
th[aria-sort=ascending]::after{content:" \25B2";font-size:10px}
th[aria-sort=descending]::after{content:" \25BC";font-size:10px}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
td.sql{font-family:ui-monospace,SFMono-Regular,Menlo,Consolas,monospace;font-size:12px;word-break:break-all}
tr:hover td{background:#f8fafc}
.filter{margin:0 0 6px;padding:3px 6px;width:260px;border:1px solid var(--line);border-radius:4px;font:inherit}
svg{display:block;max-width:100%;height:auto}
svg text{font:11px system-ui,sans-serif;fill:var(--mute)}
svg .lane{fill:var(--band)}
svg .ok{fill:var(--ok)}
svg .er{fill:var(--err)}
svg .nr{fill:var(--nr)}
svg .ax{stroke:#aab4be;stroke-width:1}
svg .bar{fill:#8aa9c8}
svg .ebar{fill:var(--err)}
svg .q{stroke:var(--ink);stroke-width:1.5}
svg a:hover rect{opacity:.7}
.legend span{display:inline-block;margin-right:14px;font-size:12px;color:var(--mute)}
.legend i{display:inline-block;width:10px;height:10px;margin-right:4px;border-radius:2px;vertical-align:-1px}
.hists{display:grid;grid-template-columns:repeat(auto-fill,minmax(420px,1fr));gap:10px 24px}
.hist h3{font-family:ui-monospace,Menlo,Consolas,monospace;font-size:12px;font-weight:500;word-break:break-all;margin:0}
.hist p{margin:0;font-size:12px;color:var(--mute)}
details{border:1px solid var(--line);border-radius:5px;margin:6px 0;background:#fff}
details>summary{cursor:pointer;padding:5px 10px;background:var(--band);font-size:13px}
details[open]>summary{border-bottom:1px solid var(--line)}
details:target>summary{outline:2px solid var(--ok)}
pre{margin:0;padding:8px 10px;font:12px/1.35 ui-monospace,SFMono-Regular,Menlo,Consolas,monospace;overflow-x:auto;white-space:pre}
a{color:#1d5fb4}
footer{color:var(--mute);font-size:12px;margin-top:30px}
)CSS";

// Kept free of anything taken from the input; its SHA-256 is named in the
// page's Content-Security-Policy, so no other script can run there.
inline constexpr std::string_view kScript = R"JS(
(function(){
function key(td){var k=td.getAttribute('data-sort');var s=k!==null?k:td.textContent;var n=parseFloat(s);return isNaN(n)||!/^\s*-?[0-9.]/.test(s)?{n:null,s:s.toLowerCase()}:{n:n,s:s};}
function cmp(a,b){if(a.n!==null&&b.n!==null)return a.n-b.n;if(a.n!==null)return -1;if(b.n!==null)return 1;return a.s<b.s?-1:a.s>b.s?1:0;}
document.querySelectorAll('table.sortable').forEach(function(t){
var hs=t.querySelectorAll('thead th');
hs.forEach(function(th,i){th.addEventListener('click',function(){
var up=th.getAttribute('aria-sort')!=='ascending';
hs.forEach(function(h){h.removeAttribute('aria-sort');});
th.setAttribute('aria-sort',up?'ascending':'descending');
var tb=t.tBodies[0];var rows=Array.prototype.slice.call(tb.rows);
rows.sort(function(a,b){var c=cmp(key(a.cells[i]),key(b.cells[i]));return up?c:-c;});
rows.forEach(function(r){tb.appendChild(r);});});});});
document.querySelectorAll('input.filter').forEach(function(f){
var t=document.getElementById(f.getAttribute('data-table'));if(!t)return;f.hidden=false;
f.addEventListener('input',function(){var q=f.value.toLowerCase();
Array.prototype.forEach.call(t.tBodies[0].rows,function(r){r.hidden=q!==''&&r.textContent.toLowerCase().indexOf(q)<0;});});});
function openTarget(){var id=location.hash.slice(1);if(!id)return;var e=document.getElementById(id);
if(e&&e.tagName==='DETAILS'){e.open=true;e.scrollIntoView();}}
window.addEventListener('hashchange',openTarget);openTarget();
})();
)JS";

// base64 of the SHA-256 of kScript (tests/html_check.py checks it).
inline constexpr std::string_view kScriptHash = "5Lh+gleKK0giaqCKIRXl1cysFtvWP+0OtI8PcEk2kvs=";

}  // namespace drda::html
