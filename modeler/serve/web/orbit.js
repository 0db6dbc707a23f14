// Orbiting a perspective camera about a target: right-drag turns, Shift +
// right-drag pans, the wheel moves closer or away.
import { Spherical, Vector3 } from './three.module.min.js';

export class Orbit {
  constructor(camera, target) {
    this.camera = camera;
    this.target = target.clone();
    this.spherical = new Spherical().setFromVector3(camera.position.clone().sub(this.target));
    this.update();
  }

  update() {
    this.spherical.makeSafe();
    this.camera.position.setFromSpherical(this.spherical).add(this.target);
    this.camera.lookAt(this.target);
  }

  rotate(dx, dy) {
    this.spherical.theta -= dx * 0.008;
    this.spherical.phi = Math.min(Math.PI - 0.05, Math.max(0.05, this.spherical.phi - dy * 0.008));
    this.update();
  }

  pan(dx, dy, viewHeight) {
    const scale = (2 * this.spherical.radius * Math.tan((this.camera.fov * Math.PI) / 360)) / viewHeight;
    const right = new Vector3().setFromMatrixColumn(this.camera.matrix, 0).multiplyScalar(-dx * scale);
    const up = new Vector3().setFromMatrixColumn(this.camera.matrix, 1).multiplyScalar(dy * scale);
    this.target.add(right).add(up);
    this.update();
  }

  zoom(factor) {
    this.spherical.radius = Math.max(0.01, this.spherical.radius * factor);
    this.update();
  }

  frame(center, radius) {
    this.target.copy(center);
    this.spherical.radius = Math.max(0.05, radius * 2.6);
    this.update();
  }
}
