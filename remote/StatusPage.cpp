// The status page: one HTML file with its script, nothing fetched from
// elsewhere. It reads /api/status, follows /api/events, and sends nothing
// but STOP (asked twice).
#include "remote/RemoteServer.h"

const char *StatusPageHtml() {
  return R"KV(<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Kavetra</title>
<style>
body{font-family:sans-serif;margin:0;padding:.6em;background:#f4f4f4;color:#222;max-width:48em}
h1{font-size:1.2em;margin:.2em 0}
.card{background:#fff;border-radius:6px;padding:.6em;margin:.5em 0;box-shadow:0 1px 2px #0002}
table{border-collapse:collapse;width:100%}td{padding:.15em .3em}td:first-child{color:#666;width:40%}
#state{font-weight:bold;padding:.1em .5em;border-radius:4px;background:#ddd}
#state.running{background:#9d9}#state.question{background:#f96}#state.stopping{background:#fc6}
#question{display:none;background:#f96;font-weight:bold}
#stop{width:100%;font-size:1.4em;padding:.5em;background:#c00;color:#fff;border:0;border-radius:6px}
pre{white-space:pre-wrap;font-size:.75em;margin:0;max-height:20em;overflow:auto}
canvas{width:100%;height:10em}ul{margin:0;padding-left:1.2em;font-size:.85em}
</style></head><body>
<h1>Kavetra <span id="state">-</span> <small id="conn"></small></h1>
<div class="card" id="question"></div>
<div class="card"><table>
<tr><td>Task</td><td id="task"></td></tr>
<tr><td>Process</td><td id="process"></td></tr>
<tr><td>Dip</td><td id="dip">-</td></tr>
<tr><td>X / Y / Z cm</td><td id="xyz"></td></tr>
<tr><td>Elapsed</td><td id="elapsed"></td></tr>
<tr><td>Remaining</td><td id="remaining"></td></tr>
<tr><td>Last run</td><td id="lastend"></td></tr>
</table></div>
<div class="card"><canvas id="plot" width="600" height="160"></canvas></div>
<button id="stop">STOP</button>
<div class="card"><b>Events</b><ul id="events"></ul></div>
<div class="card"><b>Report</b><pre id="lines"></pre></div>
<div class="card"><b>Runs</b><ul id="runs"></ul></div>
<script>
"use strict";
// Tokens stay in this origin's localStorage (no cookie: other services on
// the PC would get it) and go as a Bearer header; the link's read token
// leaves the address bar at once.
const q=new URLSearchParams(location.search);
if(q.get("token")){localStorage.setItem("kv_read",q.get("token"));history.replaceState(null,"",location.pathname);}
const readToken=()=>localStorage.getItem("kv_read")||"";
const auth=t=>t?{Authorization:"Bearer "+t}:{};
const withToken=u=>readToken()?u+(u.includes("?")?"&":"?")+"token="+encodeURIComponent(readToken()):u;
const $=id=>document.getElementById(id);
let trace=[],polls=0;
function clock(s){s=Math.round(s||0);const h=Math.floor(s/3600),m=Math.floor(s/60)%60,r=s%60;
 return h+":"+String(m).padStart(2,"0")+":"+String(r).padStart(2,"0");}
function show(s){
 $("state").textContent=s.state;$("state").className=s.state;
 $("conn").textContent=s.connected?"connected":"not connected";
 $("task").textContent=s.task;$("process").textContent=s.process;
 $("dip").textContent=s.dips?s.dip+" of "+s.dips:"-";
 $("xyz").textContent=[s.x,s.y,s.z].map(v=>v.toFixed(2)).join(" / ");
 $("elapsed").textContent=clock(s.elapsed_s);
 $("remaining").textContent=s.running?clock(s.remaining_s):"-";
 $("lastend").textContent=s.last_end||"";
 const qb=$("question");qb.style.display=s.question?"block":"none";qb.textContent=s.question||"";
 if(s.trace)trace=s.trace;else if(s.running)trace.push([s.elapsed_s,s.z]);
 if(s.lines)$("lines").textContent=s.lines.join("\n");
 plot();}
function plot(){const c=$("plot"),g=c.getContext("2d");g.clearRect(0,0,c.width,c.height);
 if(trace.length<2)return;const t1=trace[trace.length-1][0]||1;
 let lo=Math.min(...trace.map(p=>p[1])),hi=Math.max(...trace.map(p=>p[1]));if(hi-lo<1)hi=lo+1;
 g.strokeStyle="#06c";g.lineWidth=2;g.beginPath();
 trace.forEach((p,i)=>{const x=p[0]/t1*(c.width-4)+2,y=(p[1]-lo)/(hi-lo)*(c.height-4)+2;i?g.lineTo(x,y):g.moveTo(x,y);});
 g.stroke();g.fillStyle="#666";g.fillText("Z "+lo.toFixed(1)+" (top) .. "+hi.toFixed(1)+" cm",4,c.height-4);}
async function poll(full){try{const r=await fetch("/api/status"+(full?"?full=1":""),{cache:"no-store",headers:auth(readToken())});
 if(r.ok)show(await r.json());}catch(e){$("conn").textContent="server not reached";}}
async function runs(){try{const r=await fetch("/api/runs",{headers:auth(readToken())});if(!r.ok)return;const ul=$("runs");ul.textContent="";
 for(const x of (await r.json()).slice(0,20)){const li=document.createElement("li"),a=document.createElement("a");
  a.href=withToken("/api/runs/"+encodeURIComponent(x.name));a.textContent=x.task+" "+x.start;li.append(a," "+(x.how||"running or cut"));ul.append(li);}}catch(e){}}
function note(e){const li=document.createElement("li");
 const what={run_started:"run started",dip_started:"dip started",dip_ended:"dip ended",process_done:"process done",
  run_ended:"run ended",question_asked:"question waits",question_answered:"question answered",line_fault:"line fault"}[e.event]||e.event;
 li.textContent=new Date(e.time_ms).toLocaleTimeString()+" "+what+" "+[e.task,e.process,e.dips?e.dip+" of "+e.dips:"",e.end,e.text,e.answer].filter(x=>x).join(" ");
 li.className=e.event;const ul=$("events");ul.prepend(li);while(ul.children.length>20)ul.lastChild.remove();}
function listen(){const ws=new WebSocket((location.protocol=="https:"?"wss://":"ws://")+location.host+withToken("/api/events"));
 ws.onmessage=m=>{const e=JSON.parse(m.data);if(e.event=="hello"){show(e.status);return;}
  note(e);if(e.dips)$("dip").textContent=e.dip+" of "+e.dips;
  poll(e.event=="run_started"||e.event=="run_ended");if(e.event=="run_ended")runs();};
 ws.onclose=()=>setTimeout(listen,3000);}
$("stop").onclick=async()=>{
 if(!confirm("Send STOP to the robot?")||!confirm("Really STOP? The run ends and the machine goes home."))return;
 let t=localStorage.getItem("kv_control")||"";
 if(!t){t=(prompt("Control token (Settings / Remote access):")||"").trim();if(!t)return;}
 const r=await fetch("/api/stop",{method:"POST",headers:auth(t)});
 if(r.ok)localStorage.setItem("kv_control",t);else if(r.status==401)localStorage.removeItem("kv_control");
 alert(r.ok?"STOP sent":"STOP refused ("+r.status+")");};
poll(true);runs();listen();
setInterval(()=>poll(++polls%5==0),1000);
</script></body></html>
)KV";
}
