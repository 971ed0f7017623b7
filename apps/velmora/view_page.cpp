// The live view's page.
#include "apps/velmora/view_page.h"

namespace velmora::app {

namespace {

constexpr std::string_view kPage = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>velmora view</title>
<meta name="viewport" content="width=device-width">
<style>
body{font:14px sans-serif;margin:12px;background:#f4f4f0;color:#222}
h1{font-size:18px;margin:0 0 8px}
.row{display:flex;gap:16px;flex-wrap:wrap;align-items:flex-start}
canvas{background:#0d1117;border:1px solid #888;display:block}
#meter{width:240px;height:16px;border:1px solid #888;background:#ddd;position:relative}
#meterbar{height:100%;width:0;background:linear-gradient(90deg,#2a2,#dd2 70%,#d22)}
#keys{height:240px;width:260px;overflow:auto;background:#fff;border:1px solid #888;font-family:monospace}
fieldset{border:1px solid #aaa;margin:0 0 8px}
.on{color:#c00;font-weight:bold}
</style></head><body>
<h1>velmora live view</h1>
<div class="row">
<div>
<div>Oscilloscope</div><canvas id="osc" width="800" height="180"></canvas>
<div>Spectrum <select id="maxf"><option>2000</option><option selected>4000</option><option>11025</option><option>22050</option></select> Hz shown</div>
<canvas id="spectrum" width="800" height="300"></canvas>
</div>
<div>
<fieldset><legend>Level</legend><div id="meter"><div id="meterbar"></div></div>
<div>peak <span id="level">0</span> / 100 &nbsp; noise <span id="noise">-</span> dB</div>
<div>strongest <span id="tone">-</span></div>
<div>trigger <span id="trigger">off</span> &nbsp; record <span id="record">-</span></div>
<div id="status">connecting</div></fieldset>
<fieldset><legend>Spectrum</legend>
<label>window <select id="FFT_window"><option>dB_0</option><option>dB_54</option><option>dB_67</option><option>dB_72</option><option>dB_92</option></select></label><br>
<label>FFT_point <select id="FFT_point"><option>256</option><option>512</option><option>1024</option><option selected>2048</option><option>4096</option></select></label><br>
<label>FFT_noise <input id="FFT_noise" type="number" value="0" style="width:5em"></label><br>
<label><input id="FFT_cut_minusamp" type="checkbox"> FFT_cut_minusamp</label>
<div id="ctlmsg"></div></fieldset>
<fieldset><legend>Dial</legend><input id="dialkeys" value="5" style="width:10em"> <button id="dial">Dial</button></fieldset>
<fieldset><legend>Keys</legend><div id="keys"></div></fieldset>
</div></div>
<script>
"use strict";
const DTMF=[697,770,852,941,1209,1336,1477,1633];
const V=window.velmoraView={connected:false,frames:0,keys:[],presses:[],peaks:[],level:0,trigger:false,recording:"",settings:{}};
const $=id=>document.getElementById(id);
let last=null;
function post(name,value){
  const m=$("ctlmsg");
  return fetch("/control",{method:"POST",headers:{"Content-Type":"application/x-www-form-urlencoded"},
    body:encodeURIComponent(name)+"="+encodeURIComponent(value)})
   .then(r=>r.text().then(t=>{m.textContent=r.ok?"":t;return r.ok;}));
}
window.velmoraDial=keys=>post("DTMF_keys",keys);
$("dial").onclick=()=>velmoraDial($("dialkeys").value);
for(const id of ["FFT_window","FFT_point","FFT_noise"])$(id).onchange=e=>post(id,e.target.value);
$("FFT_cut_minusamp").onchange=e=>post("FFT_cut_minusamp",e.target.checked?"True":"False");
$("maxf").onchange=()=>{if(last)draw(last);};
function peaks(levels,step){
  const loc=[];
  for(let i=1;i+1<levels.length;i++)if(levels[i]>levels[i-1]&&levels[i]>=levels[i+1])loc.push(i);
  loc.sort((a,b)=>levels[b]-levels[a]);
  return loc.slice(0,2).map(i=>i*step);
}
function drawOsc(f){
  const c=$("osc"),g=c.getContext("2d"),w=c.width,h=c.height;
  g.fillStyle="#0d1117";g.fillRect(0,0,w,h);
  g.strokeStyle="#30363d";g.beginPath();g.moveTo(0,h/2);g.lineTo(w,h/2);g.stroke();
  const y=f.osc;if(!y.length)return;
  g.strokeStyle="#3fb950";g.lineWidth=1.5;g.beginPath();
  for(let i=0;i<y.length;i++){const px=i*w/(y.length-1),py=h/2-y[i]*(h/2-4)/128;i?g.lineTo(px,py):g.moveTo(px,py);}
  g.stroke();
}
function drawSpec(f){
  const c=$("spectrum"),g=c.getContext("2d"),w=c.width,h=c.height,L=44,B=22;
  const maxf=+$("maxf").value,s=f.spectrum;
  g.fillStyle="#0d1117";g.fillRect(0,0,w,h);
  let lo=0,hi=0;for(const v of s){lo=Math.min(lo,v);hi=Math.max(hi,v);}
  lo=Math.max(-130,Math.floor(lo/20)*20);hi=Math.ceil((hi+5)/20)*20;
  const X=fr=>L+(w-L-8)*fr/maxf,Y=db=>(h-B)-(h-B-8)*(db-lo)/(hi-lo);
  g.font="11px sans-serif";g.fillStyle="#8b949e";g.strokeStyle="#21262d";
  for(let d=lo;d<=hi;d+=20){g.beginPath();g.moveTo(L,Y(d));g.lineTo(w,Y(d));g.stroke();g.fillText(d+" dB",2,Y(d)+4);}
  const tick=maxf<=2000?250:maxf<=4000?500:maxf<=11025?1000:2000;
  for(let fr=0;fr<=maxf;fr+=tick){g.fillText(fr+" Hz",X(fr)-14,h-6);}
  g.strokeStyle="#6e40c9";g.setLineDash([3,3]);
  for(const d of DTMF)if(d<=maxf){g.beginPath();g.moveTo(X(d),8);g.lineTo(X(d),h-B);g.stroke();}
  g.strokeStyle="#d29922";g.beginPath();g.moveTo(L,Y(f.noise));g.lineTo(w,Y(f.noise));g.stroke();
  g.setLineDash([]);
  g.strokeStyle="#58a6ff";g.lineWidth=1.5;g.beginPath();
  for(let i=0;i<s.length;i++){const fr=i*f.step;if(fr>maxf)break;i?g.lineTo(X(fr),Y(s[i])):g.moveTo(X(fr),Y(s[i]));}
  g.stroke();g.lineWidth=1;
  if(f.f0<=maxf&&f.a0>-1){g.fillStyle="#f85149";g.beginPath();g.arc(X(f.f0),Y(f.a0),4,0,7);g.fill();
    g.fillText(f.f0.toFixed(0)+" Hz "+f.a0.toFixed(1)+" dB",Math.min(X(f.f0)+6,w-110),Y(f.a0)-6);}
  g.fillStyle="#d29922";g.fillText("noise "+f.noise.toFixed(1)+" dB",w-90,Y(f.noise)-4);
}
function draw(f){drawOsc(f);drawSpec(f);}
function addKey(k,t,kind){
  const box=$("keys"),row=box.lastElementChild;
  if(kind==="key"&&row&&row.dataset.key===k&&t-row.dataset.t<0.2){row.dataset.t=t;row.dataset.n++;row.textContent=row.dataset.label+" \u00d7"+row.dataset.n;return;}
  const d=document.createElement("div");d.dataset.key=k;d.dataset.t=t;d.dataset.n=1;
  d.dataset.label=(kind==="press"?"press ":"key ")+k+"  at "+t.toFixed(2)+" s";d.textContent=d.dataset.label;
  box.appendChild(d);box.scrollTop=box.scrollHeight;
}
const es=new EventSource("/events");
es.onopen=()=>{V.connected=true;$("status").textContent="connected";};
es.onerror=()=>{V.connected=false;$("status").textContent="reconnecting";};
es.addEventListener("frame",e=>{
  const f=JSON.parse(e.data);last=f;V.frames++;V.level=f.level;V.trigger=f.trigger;
  V.peaks=peaks(f.spectrum,f.step);V.settings={window:f.window,fft_point:f.fft_point,fft_noise:f.fft_noise,cut:f.cut};
  $("level").textContent=f.level;$("meterbar").style.width=f.level+"%";
  $("noise").textContent=f.noise.toFixed(1);$("tone").textContent=f.a0>-1?f.f0.toFixed(0)+" Hz, "+f.a0.toFixed(1)+" dB":"-";
  for(const [id,v] of [["FFT_window",f.window],["FFT_point",String(f.fft_point)],["FFT_noise",String(f.fft_noise)]])
    if(document.activeElement!==$(id))$(id).value=v;
  $("FFT_cut_minusamp").checked=f.cut;
  draw(f);
});
es.addEventListener("key",e=>{const k=JSON.parse(e.data);V.keys.push(k.key);addKey(k.key,k.t,"key");});
es.addEventListener("press",e=>{const p=JSON.parse(e.data);V.presses.push(p.key);addKey(p.key,p.t,"press");});
es.addEventListener("trigger",e=>{const t=JSON.parse(e.data);V.trigger=t.on;$("trigger").textContent=t.on?"ON":"off";$("trigger").className=t.on?"on":"";});
es.addEventListener("record",e=>{const r=JSON.parse(e.data);V.recording=r.status+" "+r.size_kb+" KB";$("record").textContent=V.recording;});
</script></body></html>
)PAGE";

}  // namespace

std::string_view ViewPage() {
  return kPage;
}

}  // namespace velmora::app
