{
  TStyle *uLm = new TStyle("uLm", "uLm style");
  uLm->SetPadLeftMargin(0.14);
  uLm->SetPadBottomMargin(0.12);
  uLm->SetLabelSize(0.045, "xyz");
  uLm->SetTitleSize(0.05, "xyz");
  uLm->SetTitleOffset(1.3, "y");
  uLm->SetTextFont(42);
  uLm->SetLineWidth(2);
  uLm->SetLegendBorderSize(0);
  uLm->SetLegendFillColor(0);
  gROOT->SetStyle("uLm");
}
